#include "zantrix/framework/utility.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <unistd.h>

#include "zantrix/framework/errors.h"
#include "zantrix/framework/file_buffer.h"

namespace zf = zantrix::framework;
namespace fs = std::filesystem;

namespace {

using Fields = std::vector<std::string>;

// A scratch directory of its own per test, removed afterwards.
class ReadRowFromCsv : public testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() /
           ("zantrix_csv_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path write(const std::string& content) {
    const fs::path path = dir_ / "data.csv";
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  Fields row(const std::string& content, std::int64_t n) {
    return zf::read_row_from_csv(write(content), n);
  }

  fs::path dir_;
};

}  // namespace

TEST_F(ReadRowFromCsv, PlainRecordsByNumber) {
  const std::string text = "time_key,open,close\n2024-03-02 10:00:00,1.5,2\n";
  EXPECT_EQ(row(text, 1), (Fields{"time_key", "open", "close"}));
  EXPECT_EQ(row(text, 2), (Fields{"2024-03-02 10:00:00", "1.5", "2"}));
}

TEST_F(ReadRowFromCsv, EmptyFieldsAreKept) {
  EXPECT_EQ(row(",a,,\n", 1), (Fields{"", "a", "", ""}));
  EXPECT_EQ(row("a,", 1), (Fields{"a", ""}));
  EXPECT_EQ(row("\"\"\n", 1), (Fields{""}));
}

TEST_F(ReadRowFromCsv, QuotedFieldsHoldCommasAndDoubledQuotes) {
  EXPECT_EQ(row("\"a,b\",\"say \"\"hi\"\"\",c\n", 1), (Fields{"a,b", "say \"hi\"", "c"}));
  EXPECT_EQ(row("5\" pipe,x\nnext\n", 1), (Fields{"5\" pipe", "x"}));
  EXPECT_EQ(row("5\" pipe,x\nnext\n", 2), (Fields{"next"}));
}

TEST_F(ReadRowFromCsv, QuotedLineBreaksKeepARecordTogether) {
  const std::string text = "h1,h2\n\"line one\nline two\",x\r\n\"a\r\nb\",y\nlast,z\n";
  EXPECT_EQ(row(text, 2), (Fields{"line one\nline two", "x"}));
  EXPECT_EQ(row(text, 3), (Fields{"a\r\nb", "y"}));
  EXPECT_EQ(row(text, 4), (Fields{"last", "z"}));
  EXPECT_EQ(row(text, 5), Fields{});
}

TEST_F(ReadRowFromCsv, CrlfEndsARecordWithoutACarriageReturnInTheLastField) {
  const std::string text = "a,b\r\n\"c\"\r\nd\r\n";
  EXPECT_EQ(row(text, 1), (Fields{"a", "b"}));
  EXPECT_EQ(row(text, 2), (Fields{"c"}));
  EXPECT_EQ(row(text, 3), (Fields{"d"}));
  EXPECT_EQ(row(text, 4), Fields{});
}

TEST_F(ReadRowFromCsv, ByteOrderMarkIsSkipped) {
  EXPECT_EQ(row("\xEF\xBB\xBFopen,close\n1,2\n", 1), (Fields{"open", "close"}));
  EXPECT_EQ(row("\xEF\xBB\xBF\"open\"\n", 1), (Fields{"open"}));
}

TEST_F(ReadRowFromCsv, EmptyLineIsARecordWithoutFields) {
  const std::string text = "a\n\nb\r\n\r\nc\n";
  EXPECT_EQ(row(text, 2), Fields{});
  EXPECT_EQ(row(text, 3), (Fields{"b"}));
  EXPECT_EQ(row(text, 4), Fields{});
  EXPECT_EQ(row(text, 5), (Fields{"c"}));
}

TEST_F(ReadRowFromCsv, PastTheEndGivesNoFields) {
  EXPECT_EQ(row("a\nb\n", 3), Fields{});
  EXPECT_EQ(row("", 1), Fields{});
}

TEST_F(ReadRowFromCsv, LastLineWithoutNewline) {
  EXPECT_EQ(row("a\nb,c", 2), (Fields{"b", "c"}));
  EXPECT_EQ(row("a\n\"b\"", 2), (Fields{"b"}));
  EXPECT_EQ(row("a\n\"unterminated, still", 2), (Fields{"unterminated, still"}));
}

TEST_F(ReadRowFromCsv, RecordNumbersStartAtOne) {
  const fs::path path = write("a\n");
  EXPECT_THROW(zf::read_row_from_csv(path, 0), zf::ValueError);
  EXPECT_THROW(zf::read_row_from_csv(path, -1), zf::ValueError);
}

TEST_F(ReadRowFromCsv, MissingFileIsFileNotFoundNamingThePath) {
  const fs::path path = dir_ / "absent.csv";
  try {
    zf::read_row_from_csv(path, 1);
    ADD_FAILURE() << "no error";
  } catch (const zf::FileNotFoundError& e) {
    EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
  }
  EXPECT_THROW(zf::read_row_from_csv(dir_, 1), std::runtime_error);
}

// The file is read in blocks of 64 KiB; quoting and line ends must carry
// across a block boundary. Each case puts its tricky bytes at the boundary.
TEST_F(ReadRowFromCsv, StateCarriesAcrossReadBlocks) {
  constexpr std::size_t kBlock = 64 * 1024;
  const auto padded = [&](const std::string& tail_of_block, const std::string& rest) {
    std::string text = "h\n" + std::string(kBlock - 2 - tail_of_block.size() - 1, 'p') + "\n";
    return text + tail_of_block + rest;
  };

  EXPECT_EQ(row(padded("x,\"a\"", "\"b\"\nnext\n"), 3), (Fields{"x", "a\"b"}));
  EXPECT_EQ(row(padded("x,\"a\"", "\"b\"\nnext\n"), 4), (Fields{"next"}));
  EXPECT_EQ(row(padded("x\r", "\ny\n"), 3), (Fields{"x"}));
  EXPECT_EQ(row(padded("x\r", "\ny\n"), 4), (Fields{"y"}));
  EXPECT_EQ(row(padded("\"multi", "\nline\",z\nw\n"), 3), (Fields{"multi\nline", "z"}));
  EXPECT_EQ(row(padded("\"multi", "\nline\",z\nw\n"), 4), (Fields{"w"}));

  const std::string long_field(3 * kBlock, 'q');
  EXPECT_EQ(row("a\n" + long_field + ",end\nb\n", 2), (Fields{long_field, "end"}));
  EXPECT_EQ(row("a\n" + long_field + ",end\nb\n", 3), (Fields{"b"}));
}

using FileBuffer = ReadRowFromCsv;

// A file's bytes are copied into memory the buffer owns, so a file that is
// truncated or rewritten meanwhile never takes the reader down: what was read
// stays readable, and a file that shrinks while it is read is an error naming
// the file.
TEST_F(FileBuffer, OwnsItsCopyWhateverHappensToTheFile) {
  const std::string text(1 << 20, 'x');
  const std::string_view half = std::string_view(text).substr(0, text.size() / 2);
  const fs::path path = write(text);
  const zf::FileBuffer buffer = zf::FileBuffer::open(path);
  fs::resize_file(path, 0);
  EXPECT_EQ(std::string_view(buffer.data(), buffer.size()), text);

  write(text);
  std::atomic<bool> reading = true;
  std::thread truncator([&] {
    while (reading) {
      fs::resize_file(path, half.size());
      fs::resize_file(path, text.size());
    }
  });
  for (int i = 0; i < 200; ++i) {
    try {
      const zf::FileBuffer read = zf::FileBuffer::open(path);
      const std::string_view bytes(read.data(), read.size());
      EXPECT_TRUE(bytes.size() == half.size() || bytes.size() == text.size()) << bytes.size();
      EXPECT_TRUE(bytes.starts_with(half));
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
    }
  }
  reading = false;
  truncator.join();
}
