// Test support: a fixture that leaves the process-wide database "MEMORY" as
// it found it, so the leak guard holds for tests that create tables there.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/tables/ABSDatabaseData.h"
#include "engine/tables/ABSDatabaseDataList.h"

// Frees every table of "MEMORY" that was not there when the fixture was built.
class MemoryTablesTest : public ::testing::Test {
 protected:
  MemoryTablesTest() { MemoryDatabase().CollectTableNames(before_); }
  ~MemoryTablesTest() override { FreeNewTables(); }

  static TABSDatabaseData& Memory() { return MemoryDatabase(); }

  void FreeNewTables() {
    std::vector<std::string> now;
    MemoryDatabase().CollectTableNames(now);
    for (const std::string& name : now) {
      bool old = false;
      for (const std::string& kept : before_) old = old || kept == name;
      if (old) continue;
      if (TABSTableData* table = MemoryDatabase().FindTableData(name)) {
        MemoryDatabase().FreeTableData(*table);
      }
    }
  }

 private:
  std::vector<std::string> before_;
};
