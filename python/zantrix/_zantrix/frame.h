// Tables as pandas DataFrames, and DataFrames as tables.
//
// A table becomes a DataFrame whose row labels are the table's (a RangeIndex
// when they run 0, 1, 2, ...) and whose columns keep the table's order:
//   number     float64, sharing the table's memory (missing cells are NaN);
//   integer    int64 sharing the table's memory, or float64 with NaN when a
//              cell is missing;
//   date-time  datetime64[ns] (missing cells NaT);
//   text       Python str objects (missing cells NaN).
// The shared arrays keep the table alive through their base, a capsule that
// owns a reference to it, so they stay valid after every other holder of the
// table is gone.
//
// A DataFrame becomes a table column by column, by dtype: floats are numbers,
// integers and booleans integers, datetime64 date-times; an object column is
// texts, date-times or numbers after its first value that is not missing
// (None, NaN, pandas.NA and NaT are missing). The DataFrame's index is not
// carried over.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <string_view>

#include "zantrix/framework/table.h"

namespace zantrix::python {

pybind11::object frame_from_table(std::shared_ptr<const framework::Table> table);

// A TypeError naming `argument` when `frame` is no DataFrame, and naming the
// column when a column holds values a table cannot hold.
framework::Table table_from_frame(pybind11::handle frame, std::string_view argument);

}  // namespace zantrix::python
