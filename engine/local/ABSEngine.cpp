#include "engine/local/ABSEngine.h"

#include <mutex>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSDesignMode.h"
#include "engine/tables/ABSDatabaseData.h"
#include "engine/tables/ABSDatabaseDataList.h"

namespace {

// "TEMP" while the engine has no temporary tables of its own: it can be
// attached to and asked for its (always empty) table list, but creating a
// table raises a clear error instead of quietly making a memory table.
class TABSUnavailableTemporaryDatabaseData : public TABSDatabaseData {
 public:
  TABSUnavailableTemporaryDatabaseData() : TABSDatabaseData("TEMP") {}
  ~TABSUnavailableTemporaryDatabaseData() override { FreeAllTables(); }

  TABSTableData& CreateTableData(std::string_view tableName) override {
    throw EABSException(native_code::kNoTemporaryTables,
                        "Cannot create temporary table '%s'. Temporary tables are not available",
                        {tableName});
  }
  // Object IDs start at 1, as in every database.
  std::int32_t NextObjectId() override { return DrawObjectId(nextObjectId_); }

 private:
  std::int32_t nextObjectId_ = 1;
};

}  // namespace

void EngineStartUp(const TABSEngineOptions& options) {
  std::unique_ptr<TABSDatabaseData> temporary =
      options.MakeTemporaryDatabase ? options.MakeTemporaryDatabase()
                                    : std::make_unique<TABSUnavailableTemporaryDatabaseData>();
  StartDatabases(std::move(temporary));
  DesignMode.store(false);
}

void EngineShutDown() noexcept {
  StopDatabases();
}

bool EngineStarted() noexcept {
  return DatabasesStarted();
}
