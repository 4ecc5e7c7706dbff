// The transport against real peers: nginx over HTTP and HTTPS, and tinyproxy as the proxy.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>

#include "base/profile_file.h"
#include "net/transport.h"
#include "platform/files.h"
#include "tests/net/peers.h"
#include "tests/support/fake_backend.h"
#include "tests/support/module_state.h"
#include "tests/support/test_env.h"

namespace nuvel::net {
namespace {

using nuvel::testing::ReadTestFile;
using nuvel::testing::WriteTestFile;

// Sets (or, for a null value, unsets) environment variables for the life of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::initializer_list<std::pair<const char*, const char*>> values) {
    for (auto [name, value] : values) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
      Set(name, value);
    }
  }
  ~ScopedEnvironment() {
    for (auto& [name, value] : saved_) Set(name.c_str(), value ? value->c_str() : nullptr);
  }

 private:
  static void Set(const char* name, const char* value) {
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nuvel::testing::ResetInstallerModules();
    Transport().reset();
    auto backend = std::make_unique<ui::testing::FakeBackend>();
    backend_ = backend.get();
    ui::SetBackend(std::move(backend));
    dir_ = sysroot_.path("downloads") + "/";
    platform::MakeDirectories(dir_);
    archive_.reserve(300000);
    for (int i = 0; i < 300000; ++i) archive_ += static_cast<char>(i * 7 % 251);
    WriteTestFile(sysroot_.path("www/courses_d/COURSE.ZIP"), archive_);
  }
  void TearDown() override { Transport().reset(); }
  void WriteRecordsIni(const std::string& settings) {
    WriteTestFile(sysroot_.path("records.ini"), "[Records]\r\n" + settings);
    base::FreePrivateProfile();
    CheckProxySettings(sysroot_.path(""));
  }

  // No proxy variable of the session leaks into a test unless the test sets it.
  ScopedEnvironment no_proxy_{{"http_proxy", nullptr},  {"HTTP_PROXY", nullptr},
                              {"https_proxy", nullptr}, {"HTTPS_PROXY", nullptr},
                              {"no_proxy", nullptr},    {"NO_PROXY", nullptr},
                              {"ALL_PROXY", nullptr},   {"all_proxy", nullptr}};
  nuvel::testing::TestSysroot sysroot_;
  ui::testing::FakeBackend* backend_ = nullptr;
  std::string dir_;
  std::string archive_;
};

TEST_F(PeerTest, NginxServesOverHttpAndVerifiedHttpsOnly) {
  testing::TestCertificates trusted(sysroot_.path("ca"));
  ASSERT_EQ(trusted.error, "");
  testing::TestCertificates stranger(sysroot_.path("other-ca"));
  ASSERT_EQ(stranger.error, "");
  testing::Nginx nginx(sysroot_.path("www"), sysroot_.path("nginx"), &trusted);
  ASSERT_EQ(nginx.error, "");

  EXPECT_EQ(CFDownloadFile(dir_, "COURSE.ZIP", nginx.http() + "/courses_d"), 0);
  EXPECT_TRUE(ReadTestFile(dir_ + "COURSE.ZIP") == archive_) << "the copy differs";
  platform::RemoveFile(dir_ + "COURSE.ZIP");

  {
    ScopedEnvironment ca({{"NUVEL_TEST_CA_FILE", trusted.ca.c_str()}});
    EXPECT_EQ(CFDownloadFile(dir_, "COURSE.ZIP", nginx.https() + "/courses_d"), 0);
    EXPECT_TRUE(ReadTestFile(dir_ + "COURSE.ZIP") == archive_) << "the copy differs";
  }
  WriteTestFile(dir_ + "VERSION2M.INI", "earlier");
  WriteTestFile(sysroot_.path("www/courses_d/VERSION2M.INI"), "newer");
  {
    ScopedEnvironment ca({{"NUVEL_TEST_CA_FILE", stranger.ca.c_str()}});
    EXPECT_EQ(CFDownloadFile(dir_, "VERSION2M.INI", nginx.https() + "/courses_d"), -1)
        << "a server whose certificate the CA file does not vouch for was trusted";
  }
  EXPECT_EQ(CFDownloadFile(dir_, "VERSION2M.INI", nginx.https() + "/courses_d"), -1)
      << "a throw-away CA was trusted without being named";
  EXPECT_EQ(ReadTestFile(dir_ + "VERSION2M.INI"), "earlier");
}

TEST_F(PeerTest, RecordsIniDecidesAboutTheProxyWhateverTheEnvironmentSays) {
  testing::Nginx nginx(sysroot_.path("www"), sysroot_.path("nginx"), nullptr);
  ASSERT_EQ(nginx.error, "");
  testing::Tinyproxy proxy(sysroot_.path("proxy"));
  ASSERT_EQ(proxy.error, "");
  const std::string port = std::to_string(proxy.port());
  WriteTestFile(sysroot_.path("www/courses_d/VIA_PROXY.ZIP"), "through the proxy");
  WriteTestFile(sysroot_.path("www/courses_d/DIRECT.ZIP"), "direct");

  // An environment that would send everything for 127.0.0.1 straight to the server.
  ScopedEnvironment bypass({{"no_proxy", "127.0.0.1,localhost"}});
  WriteRecordsIni("useproxy=y\r\nproxyipaddress=127.0.0.1\r\nproxyipport=" + port + "\r\n");
  EXPECT_EQ(CFDownloadFile(dir_, "VIA_PROXY.ZIP", nginx.http() + "/courses_d"), 0);
  EXPECT_EQ(ReadTestFile(dir_ + "VIA_PROXY.ZIP"), "through the proxy");
  EXPECT_NE(proxy.Log().find("/courses_d/VIA_PROXY.ZIP"), std::string::npos)
      << "the request did not go through the proxy:\n"
      << proxy.Log();

  // An environment that would send everything through the proxy.
  std::string proxy_url = "http://127.0.0.1:" + port;
  ScopedEnvironment through({{"http_proxy", proxy_url.c_str()},
                             {"HTTP_PROXY", proxy_url.c_str()},
                             {"ALL_PROXY", proxy_url.c_str()},
                             {"no_proxy", nullptr}});
  WriteRecordsIni("useproxy=n\r\nproxyipaddress=127.0.0.1\r\nproxyipport=" + port + "\r\n");
  EXPECT_EQ(CFDownloadFile(dir_, "DIRECT.ZIP", nginx.http() + "/courses_d"), 0);
  EXPECT_EQ(ReadTestFile(dir_ + "DIRECT.ZIP"), "direct");
  EXPECT_EQ(proxy.Log().find("DIRECT.ZIP"), std::string::npos)
      << "useproxy=n did not bypass the proxy";
}

TEST_F(PeerTest, MissingUseProxyTakesTheSessionProxyAndWritesItBack) {
  {
    ScopedEnvironment session({{"http_proxy", "http://user:pw@proxy.school.example:3128/"}});
    WriteRecordsIni("log_level=3\r\n");
  }
  auto setting = [&](const char* key) {
    std::string value;
    base::GetNuvelPrivateProfileString("Records", key, "", value, 255, sysroot_.path("records.ini"));
    return value;
  };
  EXPECT_EQ(EffectiveProxy(), "proxy.school.example:3128");
  EXPECT_EQ(setting("useproxy"), "y");
  EXPECT_EQ(setting("proxyipaddress"), "proxy.school.example");
  EXPECT_EQ(setting("proxyipport"), "3128");

  WriteRecordsIni("");
  EXPECT_EQ(EffectiveProxy(), "") << "no session proxy: none";
  EXPECT_EQ(setting("proxyipaddress"), "0.0.0.0");

  WriteRecordsIni("useproxy=Yes\r\nproxyipaddress=auto\r\nproxyipport=8080\r\n");
  EXPECT_EQ(EffectiveProxy(), "") << "\"auto\" names no proxy";
  WriteRecordsIni("useproxy=y\r\nproxyipaddress=0.0.0.0\r\nproxyipport=8080\r\n");
  EXPECT_EQ(EffectiveProxy(), "");
}

}  // namespace
}  // namespace nuvel::net
