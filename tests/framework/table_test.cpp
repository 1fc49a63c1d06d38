#include "zantrix/framework/table.h"
#include "tests/support/error_of.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "zantrix/framework/errors.h"

namespace zf = zantrix::framework;
using zantrix::test::error_of;
using namespace std::chrono;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using Numbers = std::vector<double>;
using Integers = std::vector<std::int64_t>;
using Texts = std::vector<std::string>;
using Labels = std::vector<std::int64_t>;

Labels labels_of(const zf::Table& t) {
  return {t.labels().begin(), t.labels().end()};
}
Texts texts_of(const zf::Table& t, std::string_view name) {
  const auto texts = t.column(name).texts();
  return {texts.begin(), texts.end()};
}

// A text column with the cells at `gaps` missing.
zf::Column texts_with_gaps(std::string name, Texts values, std::vector<std::size_t> gaps) {
  zf::Column column(std::move(name), std::move(values));
  for (const std::size_t g : gaps) column.set_missing(g);
  return column;
}

}  // namespace

TEST(TableConstruction, ColumnsOfEqualLengthAreLabelledFromZero) {
  const zf::Table t(
      {zf::Column("close", Numbers{1.5, 2.5, 3.5}), zf::Column("ticker", Texts{"X", "X", "Y"})});
  EXPECT_EQ(t.rows(), 3u);
  EXPECT_EQ(t.column_names(), (Texts{"close", "ticker"}));
  EXPECT_EQ(labels_of(t), (Labels{0, 1, 2}));
  EXPECT_TRUE(zf::Table().empty());
}

TEST(TableConstruction, RejectsUnequalLengthsAndDuplicateNames) {
  EXPECT_THROW(zf::Table({zf::Column("a", Numbers{1, 2}), zf::Column("b", Numbers{1})}),
               zf::ValueError);
  EXPECT_THROW(zf::Table({zf::Column("a", Numbers{1}), zf::Column("a", Integers{1})}),
               zf::ValueError);
}

TEST(TableConstruction, FirstAddedColumnSetsTheRowsLaterOnesMustMatch) {
  zf::Table t;
  t.add_column(zf::Column("id", Integers{7, 8}));
  EXPECT_EQ(labels_of(t), (Labels{0, 1}));
  EXPECT_THROW(t.add_column(zf::Column("cash", Numbers{1})), zf::ValueError);
  EXPECT_THROW(t.add_column(zf::Column("id", Integers{1, 2})), zf::ValueError);
  EXPECT_THROW(t.replace_column(0, zf::Column("id", Integers{1})), zf::ValueError);
}

TEST(ColumnMissing, NumbersAreMissingExactlyWhenNaN) {
  zf::Column c("close", Numbers{1.0, kNaN});
  EXPECT_FALSE(c.missing(0));
  EXPECT_TRUE(c.missing(1));
  c.push_missing();
  c.numbers_mut()[0] = kNaN;
  EXPECT_TRUE(std::isnan(c.numbers()[2]));
  EXPECT_TRUE(c.missing(0));
  EXPECT_FALSE(zf::Column("close", Numbers{1.0}).has_missing());
}

TEST(ColumnMissing, OtherKindsMarkMissingCellsAmongPushedOnes) {
  zf::Column texts("ticker", zf::ColumnKind::Text);
  zf::Column integers("volume", zf::ColumnKind::Integer);
  zf::Column stamps("time_key", zf::ColumnKind::DateTime);
  texts.push_text("X");
  integers.push_integer(5);
  stamps.push_datetime(zf::DateTime{});
  EXPECT_FALSE(texts.has_missing() || integers.has_missing() || stamps.has_missing());

  texts.push_missing();
  integers.push_missing();
  stamps.push_missing();
  texts.push_text("Y");
  integers.push_integer(6);
  stamps.push_datetime(zf::DateTime{});
  for (const zf::Column* c : {&texts, &integers, &stamps}) {
    EXPECT_EQ(c->size(), 3u);
    EXPECT_FALSE(c->missing(0)) << c->name();
    EXPECT_TRUE(c->missing(1)) << c->name();
    EXPECT_FALSE(c->missing(2)) << c->name();
    EXPECT_TRUE(c->has_missing());
  }
  EXPECT_EQ(integers.number_at(0), 5.0);
  EXPECT_TRUE(std::isnan(integers.number_at(1)));
}

TEST(ColumnMissing, CellsAddedThroughTextsMutAreNotMissing) {
  zf::Column c = texts_with_gaps("ticker", {"X", "Y"}, {1});
  c.texts_mut().push_back("Z");
  EXPECT_FALSE(c.missing(2));
  c.push_missing();
  EXPECT_TRUE(c.missing(1));
  EXPECT_FALSE(c.missing(2));
  EXPECT_TRUE(c.missing(3));
}

TEST(ColumnMissing, WrongKindAccessIsAValueError) {
  const zf::Column c("ticker", Texts{"X"});
  EXPECT_THROW(c.numbers(), zf::ValueError);
  EXPECT_THROW(c.number_at(0), zf::ValueError);
  EXPECT_THROW(zf::Column("n", Numbers{}).push_text("x"), zf::ValueError);
  EXPECT_THROW(zf::Column("n", Numbers{1}).set_missing(1), std::out_of_range);
}

TEST(TableTake, KeepsLabelsOrderAndMissingCells) {
  zf::Table t({zf::Column("close", Numbers{10, 11, 12, 13}),
               texts_with_gaps("ticker", {"A", "B", "C", "D"}, {2})});
  t.renumber();
  const zf::Table taken = t.take(std::vector<std::size_t>{3, 2, 3});
  EXPECT_EQ(labels_of(taken), (Labels{3, 2, 3}));
  EXPECT_EQ(taken.column("close").numbers()[0], 13);
  EXPECT_TRUE(taken.column("ticker").missing(1));
  EXPECT_FALSE(taken.column("ticker").missing(2));
  EXPECT_FALSE(t.take(std::vector<std::size_t>{0, 1}).column("ticker").has_missing());
  EXPECT_THROW(t.take(std::vector<std::size_t>{4}), std::out_of_range);
}

TEST(TableTake, SelectKeepsFlaggedRowsWithTheirLabels) {
  const zf::Table t({zf::Column("v", Integers{1, 2, 3, 4})});
  const zf::Table kept = t.select(std::vector<std::uint8_t>{0, 1, 0, 1});
  EXPECT_EQ(labels_of(kept), (Labels{1, 3}));
  EXPECT_EQ(kept.column("v").integers()[1], 4);
  EXPECT_THROW(t.select(std::vector<std::uint8_t>{1}), zf::ValueError);
}

TEST(TableSort, StableOnTiesWithMissingLastInTableOrder) {
  zf::Table t({zf::Column("close", Numbers{2, kNaN, 1, 2, kNaN, 1}),
               zf::Column("tag", Texts{"a", "b", "c", "d", "e", "f"})});
  t.sort_by("close");
  EXPECT_EQ(texts_of(t, "tag"), (Texts{"c", "f", "a", "d", "b", "e"}));
  EXPECT_EQ(labels_of(t), (Labels{2, 5, 0, 3, 1, 4}));
}

TEST(TableSort, TextsCompareByBytesAndMissingTextsGoLast) {
  zf::Table t({texts_with_gaps("k", {"b", "", "a", "B", "\xC3\xA9", "ab"}, {1})});
  t.sort_by("k");
  EXPECT_EQ(labels_of(t), (Labels{3, 2, 5, 0, 4, 1}));
}

TEST(TableSort, IntegersAndDateTimesByValue) {
  zf::Column volume("volume", Integers{30, -5, 0, 7});
  volume.set_missing(2);
  const auto day = 2024y / March / 2;
  zf::Table t({std::move(volume),
               zf::Column("time_key", std::vector<zf::DateTime>{zf::make_datetime(day, 10h),
                                                                zf::make_datetime(day, 9h),
                                                                zf::make_datetime(day, 9h, 30min),
                                                                zf::make_datetime(day, 11h)})});
  t.sort_by("volume");
  EXPECT_EQ(labels_of(t), (Labels{1, 3, 0, 2}));
  t.sort_by("time_key");
  EXPECT_EQ(labels_of(t), (Labels{1, 2, 0, 3}));
  EXPECT_THROW(t.sort_by("open"), zf::KeyError);
}

TEST(TableAppend, ColumnsOfOneSideGetMissingCellsOnTheOther) {
  zf::Table a({zf::Column("close", Numbers{1, 2}), zf::Column("ticker", Texts{"X", "X"})});
  const zf::Table b({zf::Column("volume", Integers{9}), zf::Column("close", Numbers{3})});
  a.append(b);
  EXPECT_EQ(a.column_names(), (Texts{"close", "ticker", "volume"}));
  EXPECT_EQ(labels_of(a), (Labels{0, 1, 0}));
  EXPECT_EQ(a.column("close").numbers()[2], 3);
  EXPECT_TRUE(a.column("ticker").missing(2));
  EXPECT_FALSE(a.column("ticker").missing(1));
  EXPECT_TRUE(a.column("volume").missing(0) && a.column("volume").missing(1));
  EXPECT_EQ(a.column("volume").integers()[2], 9);
}

TEST(TableAppend, IntegerAndNumberWidenToNumberEitherWay) {
  zf::Column ints("v", Integers{1, 2});
  ints.set_missing(1);
  zf::Table a({ints});
  a.append(zf::Table({zf::Column("v", Numbers{2.5})}));
  ASSERT_EQ(a.column("v").kind(), zf::ColumnKind::Number);
  EXPECT_EQ(a.column("v").numbers()[0], 1.0);
  EXPECT_TRUE(a.column("v").missing(1));
  EXPECT_EQ(a.column("v").numbers()[2], 2.5);

  zf::Table b({zf::Column("v", Numbers{0.5})});
  b.append(zf::Table({ints}));
  EXPECT_EQ(b.column("v").kind(), zf::ColumnKind::Number);
  EXPECT_EQ(b.column("v").numbers()[1], 1.0);
  EXPECT_TRUE(b.column("v").missing(2));
}

TEST(TableAppend, OtherKindMismatchNamesTheColumnAndChangesNothing) {
  zf::Table a({zf::Column("close", Numbers{1}), zf::Column("ticker", Texts{"X"})});
  const zf::Table before = a;
  const zf::Table b({zf::Column("close", Numbers{2}), zf::Column("ticker", Integers{1})});
  EXPECT_NE(error_of([&] { a.append(b); }).find("'ticker'"), std::string::npos);
  EXPECT_THROW(a.append(b), zf::ValueError);
  EXPECT_EQ(a, before);
}

TEST(TableAppend, ConcatMatchesRepeatedAppend) {
  const zf::Table parts[] = {
      zf::Table({zf::Column("close", Integers{1, 2})}),
      zf::Table(),
      zf::Table({zf::Column("ticker", Texts{"Y"}), zf::Column("close", Numbers{kNaN})}),
      zf::Table({texts_with_gaps("ticker", {"Z", "Z"}, {0})}),
  };
  zf::Table appended;
  for (const zf::Table& part : parts) appended.append(part);
  EXPECT_EQ(zf::Table::concat(parts), appended);
  EXPECT_EQ(appended.rows(), 5u);
  EXPECT_EQ(appended.column_names(), (Texts{"close", "ticker"}));

  zf::Table twice = parts[3];
  twice.append(twice);
  EXPECT_EQ(labels_of(twice), (Labels{0, 1, 0, 1}));
  EXPECT_TRUE(twice.column("ticker").missing(2));
}

TEST(TableDropMissing, DropsRowsMissingInAnyColumnThenRenumbers) {
  zf::Column volume("volume", Integers{1, 2, 3, 4, 5});
  volume.set_missing(3);
  zf::Table t({zf::Column("close", Numbers{1, kNaN, 3, 4, 5}), std::move(volume),
               texts_with_gaps("ticker", {"A", "B", "C", "D", "E"}, {0})});
  t.drop_missing();
  EXPECT_EQ(labels_of(t), (Labels{2, 4}));
  EXPECT_EQ(texts_of(t, "ticker"), (Texts{"C", "E"}));
  EXPECT_FALSE(t.column("ticker").has_missing());
  t.renumber();
  EXPECT_EQ(labels_of(t), (Labels{0, 1}));

  const zf::Table full({zf::Column("close", Numbers{1, 2})});
  zf::Table copy = full;
  copy.drop_missing();
  EXPECT_EQ(copy, full);
}

TEST(TableLookup, UnknownColumnIsAKeyErrorNamingIt) {
  zf::Table t({zf::Column("close", Numbers{1})});
  EXPECT_TRUE(t.has_column("close"));
  EXPECT_EQ(t.column_index("close"), 0u);
  EXPECT_EQ(t.column_index("open"), std::nullopt);
  EXPECT_THROW(t.column("open"), zf::KeyError);
  EXPECT_NE(error_of([&] { t.column("open"); }).find("'open'"), std::string::npos);
}

TEST(TableEquality, MissingCellsAreEqualWhateverTheyHold) {
  const zf::Table a(
      {zf::Column("close", Numbers{kNaN, 1}), texts_with_gaps("ticker", {"X", "Y"}, {0})});
  const zf::Table b(
      {zf::Column("close", Numbers{kNaN, 1}), texts_with_gaps("ticker", {"left over", "Y"}, {0})});
  EXPECT_EQ(a, b);

  zf::Table moved_gap(
      {zf::Column("close", Numbers{kNaN, 1}), texts_with_gaps("ticker", {"X", "Y"}, {1})});
  EXPECT_NE(a, moved_gap);
  zf::Table relabelled = a.take(std::vector<std::size_t>{0, 1});
  relabelled.append(zf::Table());
  EXPECT_EQ(relabelled, a);

  const zf::Table reversed = a.take(std::vector<std::size_t>{1, 0});
  zf::Table renumbered = reversed;
  renumbered.renumber();
  EXPECT_NE(renumbered, reversed);
}

TEST(TableKeepRows, KeepsFlaggedRowsInPlaceWithLabelsAndMissingMarks) {
  zf::Column texts("t", zf::ColumnKind::Text);
  for (const char* t : {"a", "", "c", "d"}) {
    if (*t == '\0') {
      texts.push_missing();
    } else {
      texts.push_text(t);
    }
  }
  zf::Table table({zf::Column("x", std::vector<double>{1, NAN, 3, 4}), std::move(texts)});
  const std::vector<std::uint8_t> keep{0, 1, 1, 0};
  const zf::Table expected = table.select(keep);
  table.keep_rows(keep);
  EXPECT_EQ(table, expected);
  EXPECT_EQ(std::vector<std::int64_t>(table.labels().begin(), table.labels().end()),
            (std::vector<std::int64_t>{1, 2}));
  EXPECT_TRUE(table.column("t").missing(0));
  EXPECT_EQ(table.column("t").texts()[1], "c");
  EXPECT_THROW(table.keep_rows(keep), zf::ValueError);
}

// Text cells live in one buffer: every operation that moves them must keep
// each cell's characters, whatever their lengths, and the missing marks.
TEST(TableTexts, EveryOperationKeepsEachCellsCharacters) {
  const Texts cells{"", "a", std::string(300, 'b'), "c,\"d\"", "", "éé", "last"};
  const auto make = [&] {
    return zf::Table(
        {zf::Column("n", Integers{6, 5, 4, 3, 2, 1, 0}), texts_with_gaps("t", cells, {1, 4})});
  };
  const auto model = [&](std::vector<std::size_t> rows) {
    Texts expected;
    for (const std::size_t r : rows) expected.push_back(r == 1 || r == 4 ? "" : cells[r]);
    return expected;
  };
  const auto shown = [](const zf::Table& t) {
    Texts out;
    for (std::size_t r = 0; r < t.rows(); ++r) out.emplace_back(t.column("t").text_at(r));
    return out;
  };
  const std::vector<std::uint8_t> flags{1, 0, 1, 1, 0, 0, 1};

  zf::Table kept = make();
  kept.keep_rows(flags);
  EXPECT_EQ(shown(kept), model({0, 2, 3, 6}));
  EXPECT_EQ(shown(make().select(flags)), model({0, 2, 3, 6}));
  EXPECT_EQ(shown(make().take(std::vector<std::size_t>{6, 2, 2, 1})), model({6, 2, 2, 1}));
  zf::Table sorted = make();
  sorted.sort_by("n");
  EXPECT_EQ(shown(sorted), model({6, 5, 4, 3, 2, 1, 0}));
  EXPECT_TRUE(sorted.column("t").missing(2) && sorted.column("t").missing(5));
  zf::Table appended = make();
  appended.append(kept);
  const zf::Table parts[] = {make(), kept};
  EXPECT_EQ(zf::Table::concat(parts), appended);
  EXPECT_EQ(shown(appended), [&] {
    auto all = model({0, 1, 2, 3, 4, 5, 6});
    for (const auto& cell : model({0, 2, 3, 6})) all.push_back(cell);
    return all;
  }());
  zf::Table by_text = make();
  by_text.sort_by("t");
  EXPECT_EQ(shown(by_text), model({0, 2, 3, 6, 5, 1, 4}));
}
