#include "engine/index/ABSIndex.h"

TABSIndex::TABSIndex(TABSIndexTable& table, TABSBaseIndexManager* manager)
    : table_(table), manager_(manager) {}

TABSIndex::~TABSIndex() = default;

void TABSIndex::CreateIndexPages(std::int32_t /*sessionId*/, TABSCursorState* /*cursor*/,
                                 const TABSIndexDef& def) {
  if (def_.get() == &def) return;
  auto copy = std::make_unique<TABSIndexDef>();
  copy->CopyFrom(def);
  def_ = std::move(copy);
}

void TABSIndex::OpenIndex(const TABSIndexDef& def) {
  if (def_.get() == &def) return;
  auto copy = std::make_unique<TABSIndexDef>();
  copy->CopyFrom(def);
  def_ = std::move(copy);
}
