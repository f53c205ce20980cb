// B-tree record index against std::map and SQLite :memory:.
//
// A plan-row table (three 32-bit integers, three doubles: a 37-byte record
// image) with one index on a 32-bit integer column whose values are random
// and distinct. Measured:
//   - indexed insert: per row, store the record, insert its key, commit the
//     session's pages (what the table data does per row), against SQLite
//     inserting the same rows into a table with an index on that column
//     (prepared statement, one transaction);
//   - point lookup of every key in random order (equal condition search,
//     then the record read), against std::map::find and SQLite's indexed
//     SELECT;
//   - a walk over the whole index in key order (navigation with the position
//     cache), against iterating a std::map;
//   - 20-character text keys under the locale's collation: insert and lookup
//     against std::map<std::string> and SQLite (which compares bytes, so
//     those figures are for information).
// bytes_per_row reports the engine memory held per row (record image,
// deleted bits and index pages) read from the memory manager.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/index/ABSBTree.h"
#include "engine/index/ABSIndexTable.h"
#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSMemory.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/storage/ABSMemoryPageManager.h"
#include "engine/storage/ABSRecordManager.h"

namespace {

constexpr std::int32_t kSession = 1;

class PlanTable : public TABSIndexTable {
 public:
  PlanTable() : fields_(nullptr) {
    for (const char* name : {"Jahr", "Monat", "Tag"})
      fields_.FieldDefs().AddFieldDef(name, dtInteger);
    for (const char* name : {"Darlehen", "Tilgung", "Zins"}) {
      fields_.FieldDefs().AddFieldDef(name, dtCurrency);
    }
    fields_.ComputeLayout();
    records_ = std::make_unique<TABSMemoryRecordManager>(fields_.GetRecordSize(), 1000);
  }
  const TABSBaseFieldManager* IndexFieldManager() const override { return &fields_; }
  TABSBaseRecordManager& IndexRecordManager() override { return *records_; }
  TABSPageManager& IndexPageManager(const TABSIndexDef&) override { return pages_; }
  std::int32_t NextObjectId() override { return ++ids_; }
  TABSMemoryRecordManager& Records() { return *records_; }
  TABSMemoryPageManager& Pages() { return pages_; }

 private:
  TABSBaseFieldManager fields_;
  TABSMemoryPageManager pages_;
  std::unique_ptr<TABSMemoryRecordManager> records_;
  std::int32_t ids_ = 0;
};

std::vector<std::int32_t> RandomKeys(std::int64_t n, std::uint32_t seed) {
  std::vector<std::int32_t> keys(static_cast<std::size_t>(n));
  std::iota(keys.begin(), keys.end(), 0);
  std::mt19937 rng(seed);
  for (auto& k : keys) k = k * 7 + static_cast<std::int32_t>(rng() % 7);  // distinct, spread
  std::shuffle(keys.begin(), keys.end(), rng);
  return keys;
}

void FillImage(std::byte* image, std::int32_t key, std::int64_t i) {
  image[0] = std::byte{0};
  StoreLE<std::int32_t>(image + 1, key);
  StoreLE<std::int32_t>(image + 5, static_cast<std::int32_t>(1 + i % 12));
  StoreLE<std::int32_t>(image + 9, 15);
  StoreLE<double>(image + 13, 100000.0 - static_cast<double>(i));
  StoreLE<double>(image + 21, 250.0);
  StoreLE<double>(image + 29, 125.0);
}

struct Indexed {
  PlanTable table;
  TABSBTreeRecordIndex index{table, nullptr};
  TABSIndexDef def;
  std::vector<std::byte> image;
  Indexed() {
    def.SetName("IX_JAHR");
    def.ObjectId = 1;
    def.Columns.push_back(TABSIndexColumn{"Jahr", false, false, 20});
    index.CreateIndexPages(kSession, nullptr, def);
    table.Pages().CommitSessionPages(kSession);
    image.resize(static_cast<std::size_t>(table.Records().RecordSize()));
  }
  void Insert(const std::vector<std::int32_t>& keys) {
    TABSCursorState cursor;
    cursor.CurrentBuffer = image.data();
    for (std::size_t i = 0; i < keys.size(); ++i) {
      FillImage(image.data(), keys[i], static_cast<std::int64_t>(i));
      if (!table.Records().StoreNewRecord(kSession, image.data(), cursor.Position)) {
        throw std::runtime_error("store");
      }
      index.InsertRecordKey(kSession, cursor);
      table.Pages().CommitSessionPages(kSession);
    }
  }
};

void IndexInsert(benchmark::State& state) {
  const auto keys = RandomKeys(state.range(0), 1);
  double bytes = 0;
  for (auto _ : state) {
    const std::int64_t before = EngineMemoryManager.AllocatedSize();
    auto t = std::make_unique<Indexed>();
    t->Insert(keys);
    bytes = static_cast<double>(EngineMemoryManager.AllocatedSize() - before) /
            static_cast<double>(keys.size());
    state.PauseTiming();
    t.reset();  // destroyed outside the timing
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["bytes_per_row"] = bytes;
}

struct Sqlite {
  sqlite3* db = nullptr;
  Sqlite() {
    sqlite3_open(":memory:", &db);
    Exec(
        "CREATE TABLE plan(jahr INTEGER, monat INTEGER, tag INTEGER, darlehen REAL, tilgung "
        "REAL, zins REAL)");
    Exec("CREATE INDEX ix_jahr ON plan(jahr)");
  }
  ~Sqlite() { sqlite3_close(db); }
  void Exec(const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db));
    }
  }
  void Insert(const std::vector<std::int32_t>& keys) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO plan VALUES(?,?,?,?,?,?)", -1, &stmt, nullptr);
    Exec("BEGIN");
    for (std::size_t i = 0; i < keys.size(); ++i) {
      sqlite3_bind_int(stmt, 1, keys[i]);
      sqlite3_bind_int(stmt, 2, static_cast<int>(1 + i % 12));
      sqlite3_bind_int(stmt, 3, 15);
      sqlite3_bind_double(stmt, 4, 100000.0 - static_cast<double>(i));
      sqlite3_bind_double(stmt, 5, 250.0);
      sqlite3_bind_double(stmt, 6, 125.0);
      if (sqlite3_step(stmt) != SQLITE_DONE) throw std::runtime_error("insert");
      sqlite3_reset(stmt);
    }
    Exec("COMMIT");
    sqlite3_finalize(stmt);
  }
};

void SqliteInsert(benchmark::State& state) {
  const auto keys = RandomKeys(state.range(0), 1);
  for (auto _ : state) {
    auto s = std::make_unique<Sqlite>();
    s->Insert(keys);
    state.PauseTiming();
    s.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void IndexLookup(benchmark::State& state) {
  const auto keys = RandomKeys(state.range(0), 1);
  auto probes = keys;
  std::shuffle(probes.begin(), probes.end(), std::mt19937(2));
  Indexed t;
  t.Insert(keys);
  std::vector<std::byte> probe(t.image.size());
  std::vector<std::byte> record(t.image.size());
  TABSScanBound equal;
  equal.Condition = 1;
  equal.RecordBuffer = probe.data();
  TABSKeyPath path;
  std::int64_t sum = 0;
  for (auto _ : state) {
    for (std::int32_t k : probes) {
      FillImage(probe.data(), k, 0);
      if (!t.index.ConditionSearch(kSession, equal, false, path)) throw std::runtime_error("miss");
      NavigationRequest read;
      read.Position = t.index.ReadPathReference(kSession, path);
      read.RecordBuffer = record.data();
      t.table.Records().NavigateRecord(kSession, read);
      sum += LoadLE<std::int32_t>(record.data() + 5);
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void MapFind(benchmark::State& state) {
  const auto keys = RandomKeys(state.range(0), 1);
  auto probes = keys;
  std::shuffle(probes.begin(), probes.end(), std::mt19937(2));
  std::map<std::int32_t, std::int32_t> map;
  for (std::size_t i = 0; i < keys.size(); ++i) map.emplace(keys[i], static_cast<std::int32_t>(i));
  std::int64_t sum = 0;
  for (auto _ : state) {
    for (std::int32_t k : probes) sum += map.find(k)->second;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void SqliteLookup(benchmark::State& state) {
  const auto keys = RandomKeys(state.range(0), 1);
  auto probes = keys;
  std::shuffle(probes.begin(), probes.end(), std::mt19937(2));
  Sqlite s;
  s.Insert(keys);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(s.db, "SELECT monat FROM plan WHERE jahr = ?", -1, &stmt, nullptr);
  std::int64_t sum = 0;
  for (auto _ : state) {
    for (std::int32_t k : probes) {
      sqlite3_bind_int(stmt, 1, k);
      if (sqlite3_step(stmt) != SQLITE_ROW) throw std::runtime_error("miss");
      sum += sqlite3_column_int(stmt, 0);
      sqlite3_reset(stmt);
    }
  }
  sqlite3_finalize(stmt);
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void IndexWalk(benchmark::State& state) {
  const auto keys = RandomKeys(state.range(0), 1);
  Indexed t;
  t.Insert(keys);
  std::vector<std::byte> record(t.image.size());
  TABSIndexPositionCache cache;
  std::int64_t sum = 0;
  for (auto _ : state) {
    NavigationRequest r;
    r.Direction = FetchMode::Next;
    r.BeforeFirst = true;
    r.RecordBuffer = record.data();
    std::int64_t n = 0;
    for (;;) {
      t.index.NavigateIndex(kSession, r, &cache, t.table.Records().ChangeCounter());
      if (r.Result != FetchResult::Found) break;
      sum += LoadLE<std::int32_t>(record.data() + 1);
      ++n;
    }
    if (n != state.range(0)) throw std::runtime_error("walk");
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void MapWalk(benchmark::State& state) {
  const auto keys = RandomKeys(state.range(0), 1);
  std::map<std::int32_t, std::int32_t> map;
  for (std::size_t i = 0; i < keys.size(); ++i) map.emplace(keys[i], static_cast<std::int32_t>(i));
  std::int64_t sum = 0;
  for (auto _ : state) {
    for (const auto& [k, v] : map) sum += k + v;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// ---- 20-character text keys under the locale's collation ----

std::vector<std::string> RandomTexts(std::int64_t n) {
  std::mt19937 rng(3);
  std::vector<std::string> texts;
  texts.reserve(static_cast<std::size_t>(n));
  for (std::int64_t i = 0; i < n; ++i) {
    std::string s(20, ' ');
    for (char& c : s) c = static_cast<char>('a' + rng() % 26);
    texts.push_back(s);
  }
  return texts;
}

class TextTable : public TABSIndexTable {
 public:
  TextTable() : fields_(nullptr) {
    fields_.FieldDefs().AddFieldDef("Name", dtString, 20);
    fields_.FieldDefs().AddFieldDef("Jahr", dtInteger);
    fields_.ComputeLayout();
    records_ = std::make_unique<TABSMemoryRecordManager>(fields_.GetRecordSize(), 1000);
  }
  const TABSBaseFieldManager* IndexFieldManager() const override { return &fields_; }
  TABSBaseRecordManager& IndexRecordManager() override { return *records_; }
  TABSPageManager& IndexPageManager(const TABSIndexDef&) override { return pages_; }
  std::int32_t NextObjectId() override { return ++ids_; }
  TABSMemoryRecordManager& Records() { return *records_; }
  TABSMemoryPageManager& Pages() { return pages_; }
  const TABSFieldDefs& Fields() const { return fields_.FieldDefs(); }

 private:
  TABSBaseFieldManager fields_;
  TABSMemoryPageManager pages_;
  std::unique_ptr<TABSMemoryRecordManager> records_;
  std::int32_t ids_ = 0;
};

struct TextIndexed {
  TextTable table;
  TABSBTreeRecordIndex index{table, nullptr};
  TABSIndexDef def;
  std::vector<std::byte> image;
  TextIndexed() {
    def.SetName("IX_NAME");
    def.ObjectId = 1;
    def.Columns.push_back(TABSIndexColumn{"Name", false, false, 20});
    index.CreateIndexPages(kSession, nullptr, def);
    table.Pages().CommitSessionPages(kSession);
    image.resize(static_cast<std::size_t>(table.Records().RecordSize()));
  }
  void Fill(const std::string& text, std::int32_t year) {
    std::memset(image.data(), 0, image.size());
    std::memcpy(image.data() + table.Fields()[0]->MemoryOffset, text.data(), text.size());
    StoreLE<std::int32_t>(image.data() + table.Fields()[1]->MemoryOffset, year);
  }
  void Insert(const std::vector<std::string>& texts) {
    TABSCursorState cursor;
    cursor.CurrentBuffer = image.data();
    for (std::size_t i = 0; i < texts.size(); ++i) {
      Fill(texts[i], static_cast<std::int32_t>(i));
      if (!table.Records().StoreNewRecord(kSession, image.data(), cursor.Position)) {
        throw std::runtime_error("store");
      }
      index.InsertRecordKey(kSession, cursor);
      table.Pages().CommitSessionPages(kSession);
    }
  }
};

void TextIndexInsert(benchmark::State& state) {
  const auto texts = RandomTexts(state.range(0));
  for (auto _ : state) {
    auto t = std::make_unique<TextIndexed>();
    t->Insert(texts);
    state.PauseTiming();
    t.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void TextMapInsert(benchmark::State& state) {
  const auto texts = RandomTexts(state.range(0));
  for (auto _ : state) {
    std::map<std::string, std::int32_t> map;
    for (std::size_t i = 0; i < texts.size(); ++i) map.emplace(texts[i], static_cast<int>(i));
    benchmark::DoNotOptimize(map.size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

struct TextSqlite {
  sqlite3* db = nullptr;
  TextSqlite() {
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, "CREATE TABLE t(name TEXT, jahr INTEGER)", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "CREATE INDEX ix_name ON t(name)", nullptr, nullptr, nullptr);
  }
  ~TextSqlite() { sqlite3_close(db); }
  void Insert(const std::vector<std::string>& texts) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?)", -1, &stmt, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (std::size_t i = 0; i < texts.size(); ++i) {
      sqlite3_bind_text(stmt, 1, texts[i].data(), static_cast<int>(texts[i].size()), SQLITE_STATIC);
      sqlite3_bind_int(stmt, 2, static_cast<int>(i));
      if (sqlite3_step(stmt) != SQLITE_DONE) throw std::runtime_error("insert");
      sqlite3_reset(stmt);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(stmt);
  }
};

void TextSqliteInsert(benchmark::State& state) {
  const auto texts = RandomTexts(state.range(0));
  for (auto _ : state) {
    auto s = std::make_unique<TextSqlite>();
    s->Insert(texts);
    state.PauseTiming();
    s.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void TextIndexLookup(benchmark::State& state) {
  const auto texts = RandomTexts(state.range(0));
  TextIndexed t;
  t.Insert(texts);
  std::vector<std::byte> probe(t.image.size());
  TABSScanBound equal;
  equal.Condition = 1;
  equal.RecordBuffer = t.image.data();
  TABSKeyPath path;
  std::int64_t found = 0;
  for (auto _ : state) {
    for (std::size_t i = texts.size(); i-- > 0;) {
      t.Fill(texts[i], 0);
      found += t.index.ConditionSearch(kSession, equal, false, path) ? 1 : 0;
    }
  }
  benchmark::DoNotOptimize(found);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void TextMapFind(benchmark::State& state) {
  const auto texts = RandomTexts(state.range(0));
  std::map<std::string, std::int32_t> map;
  for (std::size_t i = 0; i < texts.size(); ++i) map.emplace(texts[i], static_cast<int>(i));
  std::int64_t sum = 0;
  for (auto _ : state) {
    for (std::size_t i = texts.size(); i-- > 0;) sum += map.find(texts[i])->second;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void TextSqliteLookup(benchmark::State& state) {
  const auto texts = RandomTexts(state.range(0));
  TextSqlite s;
  s.Insert(texts);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(s.db, "SELECT jahr FROM t WHERE name = ?", -1, &stmt, nullptr);
  std::int64_t sum = 0;
  for (auto _ : state) {
    for (std::size_t i = texts.size(); i-- > 0;) {
      sqlite3_bind_text(stmt, 1, texts[i].data(), static_cast<int>(texts[i].size()), SQLITE_STATIC);
      if (sqlite3_step(stmt) == SQLITE_ROW) sum += sqlite3_column_int(stmt, 0);
      sqlite3_reset(stmt);
    }
  }
  sqlite3_finalize(stmt);
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(TextIndexInsert)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(TextMapInsert)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(TextSqliteInsert)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(TextIndexLookup)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(TextMapFind)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(TextSqliteLookup)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK(IndexInsert)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(SqliteInsert)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(IndexLookup)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(MapFind)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(SqliteLookup)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(IndexWalk)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(MapWalk)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
