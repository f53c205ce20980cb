// The plan in the in-test dataset, as the plan table will hold it: three
// integer fields and three currency fields, filled by the calculation
// through a row sink that appends and posts one record per row.
#pragma once

#include <memory>

#include "app/PlanCalculation.h"
#include "app/PlanTexts.h"
#include "platform/data/DataSource.h"
#include "tests/platform/data/VectorDataSet.h"

namespace tilgung::test {

inline std::vector<platform::test::TVectorColumn> PlanColumns() {
  return {{"Jahr", platform::ftInteger},     {"Monat", platform::ftInteger},
          {"Tag", platform::ftInteger},      {"Darlehen", platform::ftCurrency},
          {"Tilgung", platform::ftCurrency}, {"Zins", platform::ftCurrency}};
}

class TDataSetSink : public TPlanRowSink {
 public:
  explicit TDataSetSink(platform::TDataSet& ds) : ds_(ds) {}
  void PrepareTable() override {
    ds_.Close();
    static_cast<platform::test::TVectorDataSet&>(ds_).Rows().clear();
    ds_.Open();
  }
  void PostRow(const TPlanRow& row) override {
    ds_.Append();
    ds_.FieldByName("Jahr").SetAsInteger(row.Jahr);
    ds_.FieldByName("Monat").SetAsInteger(row.Monat);
    ds_.FieldByName("Tag").SetAsInteger(row.Tag);
    ds_.FieldByName("Darlehen").SetAsFloat(row.Darlehen);
    ds_.FieldByName("Tilgung").SetAsFloat(row.Tilgung);
    ds_.FieldByName("Zins").SetAsFloat(row.Zins);
    ds_.Post();
  }

 private:
  platform::TDataSet& ds_;
};

// A dataset holding the plan of `inputs`; `result` receives the run's result.
inline std::unique_ptr<platform::test::TVectorDataSet> PlanDataSet(const TPlanInputs& inputs,
                                                                   TPlanResult* result = nullptr) {
  auto ds = std::make_unique<platform::test::TVectorDataSet>(PlanColumns());
  TDataSetSink sink(*ds);
  const TPlanResult r = RecalculatePlan(inputs, sink);
  if (result) *result = r;
  ds->First();
  return ds;
}

// The default inputs starting on 15 January 2027: 121 rows.
inline TPlanInputs DefaultInputs2027() {
  TPlanInputs in;
  in.startDate = platform::EncodeDate(2027, 1, 15);
  return in;
}

}  // namespace tilgung::test
