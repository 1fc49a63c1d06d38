#include "zantrix/framework/config.h"
#include "tests/support/error_of.h"

#include <gtest/gtest.h>

#include <fstream>

#include "zantrix/framework/errors.h"

namespace zf = zantrix::framework;
namespace fs = std::filesystem;
using zantrix::test::error_of;

namespace {

class ConfigFile : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zantrix_config_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path write(const std::string& text) {
    const auto file = dir_ / "zantrix_config.json";
    std::ofstream(file) << text;
    return file;
  }

  fs::path dir_;
};

}  // namespace

TEST_F(ConfigFile, ReadsEveryKeyAndResolvesRelativeDirectoriesAgainstTheFile) {
  const auto file = write(R"({
    "DATA_PATH": {"kline": "data/k", "money": "/abs/money"},
    "TIME_STEP": 60000,
    "BAR_CONVENTION": {"HK.00700": "start"},
    "DB": {"sqlite3": "./db", "other": null},
    "TELEGRAM_TOKEN": "123:abc",
    "TELEGRAM_CHAT_ID": -10042,
    "TELEGRAM_USER_IDS": [4242, -7]
  })");
  zf::Config config(file);
  EXPECT_EQ(config.DATA_PATH().at("kline"), (dir_ / "data/k").string());
  EXPECT_EQ(config.DATA_PATH().at("money"), "/abs/money");
  EXPECT_EQ(config.TIME_STEP(), 60000);
  EXPECT_EQ(config.BAR_CONVENTION().at("HK.00700"), "start");
  EXPECT_EQ(config.DB("sqlite3"), (dir_ / "db").string());
  EXPECT_EQ(config.DB("other"), std::nullopt);
  EXPECT_EQ(config.TELEGRAM_TOKEN(), "123:abc");
  EXPECT_EQ(config.TELEGRAM_CHAT_ID(), -10042);
  EXPECT_EQ(config.TELEGRAM_API_URL(), "https://api.telegram.org");
  EXPECT_EQ(config.TELEGRAM_USER_IDS(), (std::vector<std::int64_t>{4242, -7}));
}

TEST_F(ConfigFile, ErrorsNameTheFileAndTheKey) {
  const auto file = write(R"({"TIME_STEP": "60000", "DATA_PATH": {"kline": 5}})");
  zf::Config config(file);
  const auto wrong = error_of<zf::TypeError>([&] { config.TIME_STEP(); });
  EXPECT_NE(wrong.find(file.string()), std::string::npos) << wrong;
  EXPECT_NE(wrong.find("TIME_STEP"), std::string::npos) << wrong;
  EXPECT_NE(error_of<zf::TypeError>([&] { config.DATA_PATH(); }).find("DATA_PATH"),
            std::string::npos);
  for (const char* users :
       {R"("4242")", "4242", R"([4242, "7"])", "[1.5]", "[18446744073709551615]"}) {
    zf::Config listed(write(std::string(R"({"TELEGRAM_USER_IDS": )") + users + "}"));
    EXPECT_EQ(error_of<zf::TypeError>([&] { listed.TELEGRAM_USER_IDS(); }),
              "configuration " + listed.file().string() +
                  ": key 'TELEGRAM_USER_IDS' must be a list of integers")
        << users;
  }
  const auto missing = error_of<zf::KeyError>([&] { config.DB("sqlite3"); });
  EXPECT_NE(missing.find(file.string()), std::string::npos) << missing;
  EXPECT_NE(missing.find("'DB'"), std::string::npos) << missing;

  zf::Config broken(write("{not json"));
  EXPECT_NE(error_of<zf::ValueError>([&] { broken.TIME_STEP(); }).find("zantrix_config.json"),
            std::string::npos);
  zf::Config absent(dir_ / "nowhere.json");
  EXPECT_NE(error_of<zf::FileNotFoundError>([&] { absent.TIME_STEP(); }).find("nowhere.json"),
            std::string::npos);
}

TEST_F(ConfigFile, ValuesSetInCodeWinAndNeedNoFile) {
  zf::Config config(dir_ / "nowhere.json");
  config.set_TIME_STEP(300000);
  config.set_DATA_PATH({{"kline", "relative/dir"}});
  EXPECT_EQ(config.TIME_STEP(), 300000);
  EXPECT_EQ(config.DATA_PATH().at("kline"), "relative/dir");  // used as given
  EXPECT_TRUE(config.BAR_CONVENTION().empty());
  EXPECT_EQ(config.TELEGRAM_API_URL(), "https://api.telegram.org");
  EXPECT_EQ(config.TELEGRAM_USER_IDS(), std::nullopt);
  config.set_TELEGRAM_USER_IDS(std::vector<std::int64_t>{7});
  EXPECT_EQ(config.TELEGRAM_USER_IDS(), (std::vector<std::int64_t>{7}));

  config.use_file(write(R"({"TIME_STEP": 60000})"));  // forgets what was set in code
  EXPECT_EQ(config.TIME_STEP(), 60000);
  config.set_TIME_STEP(1000);
  EXPECT_EQ(config.TIME_STEP(), 1000);
}

TEST_F(ConfigFile, TheFileIsReadAtFirstUseNotAtConstruction) {
  const auto file = dir_ / "zantrix_config.json";
  zf::Config config(file);  // nothing there yet
  write(R"({"TIME_STEP": 120000})");
  EXPECT_EQ(config.TIME_STEP(), 120000);
}

TEST_F(ConfigFile, EnvironmentNamesTheDefaultFile) {
  const auto file = write(R"({"TIME_STEP": 5000})");
  ::setenv("ZANTRIX_CONFIG", file.c_str(), 1);
  zf::Config config;
  ::unsetenv("ZANTRIX_CONFIG");
  EXPECT_EQ(config.file(), file);
  EXPECT_EQ(config.TIME_STEP(), 5000);
  EXPECT_EQ(zf::Config().file(), fs::path("zantrix_config.json"));
}
