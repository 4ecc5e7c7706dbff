// The Records-server double as a client meets it: the real program started on 127.0.0.1 and
// spoken to over HTTP with requests built by hand from the protocol's rules (the passwords'
// server form, Base64 bodies, fixed columns), not with the client code it stands in for.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/net/peers.h"
#include "tests/support/test_env.h"

namespace nuvel::net {
namespace {

using nuvel::testing::ReadTestFile;
using nuvel::testing::WriteTestFile;
using testing::RecordsDouble;

constexpr const char* kFixture = R"(# groups, classes and students the tests rely on
[group Riverside School]
key = GRIVER01
number = 345
login id = Riverside-Admin
password = Admin2024
rights = install 0 1
home study = yes
country = NZL
country number = 554

[class Spanish Beginners]
key = CSPAN001
teacher = Élodie Núñez
password = Clase1
password 2 = Otra2
expiry = 2025-06-30

[student Ana Pérez]
key = SANA0001
login id = ana@riverside.example
password = Sol-2024
email = ana@riverside.example
expiry = 2030-12-31
begins = 2024-01-15
created = 2024-01-10
disabled = yes
time limit = 90000

[student Bo Chen]
key = SBOCHEN1
login id = bo@riverside.example
password = Mond-2024-and-a-long-tail

[class French]
key = CFREN001
[class German]
key = CGERM001
[class Italian]
key = CITAL001

[group Old Mill Centre]
key = GMILL001
number = 678
login id = oldmill
password = Mill2024
rights = install 1 2
disabled = yes

[group Praha Centre]
number = 9
login id = praha
password = Praha2024
rights = enabled
language = CZH

[class Čeština]
key = CCZECH01
teacher = Dvořák
)";

// ---- The wire rules, written out for the test -------------------------------------------------

std::string Base64(std::string_view bytes) {
  std::string out((bytes.size() + 2) / 3 * 4 + 1, '\0');
  int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                               reinterpret_cast<const unsigned char*>(bytes.data()),
                               static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(length));
  return out;
}

// Scrambles n - 2 bytes with the key byte 0x9D and appends their check value.
void Scramble(unsigned char* bytes, std::size_t n) {
  unsigned char running = bytes[0];
  for (std::size_t i = 1; i < n - 2; ++i) {
    running ^= bytes[i];
    bytes[i] = running ^ 0x9D;
  }
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < n - 2; ++i) sum = static_cast<std::uint16_t>((sum ^ bytes[i]) + 100);
  sum = static_cast<std::uint16_t>(sum * 8);
  bytes[n - 2] = static_cast<unsigned char>(sum >> 8);
  bytes[n - 1] = static_cast<unsigned char>(sum & 0xFF);
}

std::string ServerForm(std::string_view password) {
  unsigned char bytes[24] = {};
  for (std::size_t i = 0; i < password.size() && i < 22; ++i)
    bytes[i] = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(password[i])));
  Scramble(bytes, sizeof bytes);
  return "**__" + Base64(std::string_view(reinterpret_cast<char*>(bytes), sizeof bytes)) + "__";
}

std::string LoginBody(std::string_view user, std::string_view password, bool compressed) {
  char body[512];
  std::snprintf(body, sizeof body, "%03zu-->%.*s<--%03zu-->%.*s<--%s", user.size(),
                static_cast<int>(user.size()), user.data(), password.size(),
                static_cast<int>(password.size()), password.data(), compressed ? "COMP MONI" : "");
  return Base64(body);
}

int Number(std::string_view reply, std::size_t offset, std::size_t width) {
  if (offset + width > reply.size()) return -1;
  return std::atoi(std::string(reply.substr(offset, width)).c_str());
}

int Word(std::string_view record, std::size_t offset) {
  return static_cast<unsigned char>(record[offset]) | static_cast<unsigned char>(record[offset + 1])
                                                          << 8;
}

std::string Text(std::string_view record, std::size_t offset, std::size_t width) {
  std::string field(record.substr(offset, width));
  return field.substr(0, field.find('\0'));
}

int PackedToday() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return (local.tm_year + 1900 - 1980) * 512 + (local.tm_mon + 1) * 32 + local.tm_mday;
}

// A client of one double: the session it logged in with and its requests.
class Client {
 public:
  explicit Client(const RecordsDouble& server, const std::string& ca = "") : http_(server.base()) {
    http_.set_url_encode(false);
    if (!ca.empty()) http_.set_ca_cert_path(ca.c_str());
  }

  std::string Post(const std::string& command, const std::string& body = "") {
    std::string path =
        session_.empty() ? "/NuvelRS.NRS?SID=--------&CMD=" + command
                         : "/NuvelRS.NRS/NuvelRecords/wa/getRSLauncherResponse?wosid=" + session_ +
                               "&CMD=" + command;
    auto result = http_.Post(path, body, "text/plain");
    if (!result) return "(no reply: " + httplib::to_string(result.error()) + ")";
    last_date_ = result->get_header_value("Date");
    return result->body;
  }

  // Logs in and keeps the session id of a successful login; returns the reply.
  std::string Login(std::string_view user, std::string_view password, bool unicode = true,
                    bool compressed = false) {
    session_.clear();
    std::string reply = Post(unicode ? "LGNS_&UNICODE=1" : "LGNS_",
                             LoginBody(user, ServerForm(password), compressed));
    std::string text = reply.rfind("COMP", 0) == 0 ? Inflate(reply) : reply;
    // In the 4-digit form every column after the group field sits one to the left.
    const std::size_t start = text.size() > 23 && text[23] == ' ' ? 50 : 51;
    const bool refused = text.find("BAD PASSWORD") != std::string::npos ||
                         text.find("USER NOT FOUND") != std::string::npos ||
                         text.find("GROUP DISABLED") != std::string::npos;
    if (!refused && text.size() > start && text.substr(5, 4) != "<HTM")
      session_ = text.substr(start, text.find(' ', start) - start);
    return reply;
  }

  static std::string Inflate(std::string_view reply) {
    uLongf size = static_cast<uLongf>(Number(reply, 14, 8));
    const int compressed = Number(reply, 5, 8);
    if (reply.size() != 22 + static_cast<std::size_t>(compressed)) return "(wrong COMP length)";
    std::string out(size, '\0');
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                   reinterpret_cast<const Bytef*>(reply.data() + 22),
                   static_cast<uLong>(compressed)) != Z_OK)
      return "(inflation failed)";
    out.resize(size);
    return out;
  }

  const std::string& session() const { return session_; }
  const std::string& last_date() const { return last_date_; }

 private:
  httplib::Client http_;
  std::string session_, last_date_;
};

class RecordsDoubleTest : public ::testing::Test {
 protected:
  std::unique_ptr<RecordsDouble> Start(const std::vector<std::string>& arguments = {},
                                       const std::string& fixture = kFixture) {
    const std::string file = sysroot_.path("school" + std::to_string(++started_) + ".fixture");
    WriteTestFile(file, fixture);
    auto server = std::make_unique<RecordsDouble>(
        sysroot_.path("double" + std::to_string(started_)), file, arguments);
    EXPECT_EQ(server->error, "");
    return server;
  }

  nuvel::testing::TestSysroot sysroot_;
  int started_ = 0;
};

TEST_F(RecordsDoubleTest, TheTestsServerFormFollowsTheRule) {
  // Worked out by hand from the scrambling rule, so that a fault shared by the test's encoder
  // and the double's decoder cannot pass unseen.
  EXPECT_EQ(ServerForm("Admin2024"), "**__QZjVnNLg0OLW1tbW1tbW1tbW1tbW1iFA__");
}

TEST_F(RecordsDoubleTest, LoginReplyColumnsHoldTheAccountsValues) {
  auto server = Start();
  Client client(*server);

  std::string group = client.Login("riverside-admin", "admin2024");
  ASSERT_EQ(group.substr(0, 10), "ANSW LGNS ") << group;
  EXPECT_EQ(group.substr(10, 8), "GRIVER01");
  EXPECT_EQ(Number(group, 19, 5), 345);
  EXPECT_EQ(group[23], '5') << "the 5-digit group field has no blank at 23";
  EXPECT_EQ(group.substr(25, 8), "        ") << "a group login has no class path";
  EXPECT_EQ(group.substr(34, 8), "GRIVER01");
  EXPECT_EQ(group[43], '4');
  EXPECT_EQ(group[47], '0');
  EXPECT_EQ(group.substr(51), client.session() + " NuvelRecords NZL\r\n");
  EXPECT_EQ(client.session().size(), 16u);

  std::string student = client.Login("Ana@Riverside.example", "Sol-2024");
  EXPECT_EQ(student.substr(10, 8), "SANA0001");
  EXPECT_EQ(Number(student, 19, 5), 345);
  EXPECT_EQ(student.substr(25, 8), "CSPAN001");
  EXPECT_EQ(student.substr(34, 8), "SANA0001");
  EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(student[34])));
}

TEST_F(RecordsDoubleTest, RefusedLoginsSayWhyAndOpenNoSession) {
  auto server = Start();
  Client client(*server);
  EXPECT_NE(client.Login("ana@riverside.example", "Sol-2025").find("BAD PASSWORD"),
            std::string::npos);
  EXPECT_NE(client.Login("nobody@riverside.example", "x").find("USER NOT FOUND"),
            std::string::npos);
  EXPECT_NE(client.Login("oldmill", "Mill2024").find("GROUP DISABLED"), std::string::npos)
      << "a disabled group refuses its logins";
  // A clear password is never compared, even the right one.
  std::string clear = client.Post("LGNS_", Base64("005-->praha<--009-->Praha2024<--"));
  EXPECT_NE(clear.find("BAD PASSWORD"), std::string::npos) << clear;
  // A password is compared as clients send it: cut to 20 characters.
  EXPECT_EQ(client.Login("bo@riverside.example", "Mond-2024-and-a-long").substr(0, 10),
            "ANSW LGNS ");
  EXPECT_NE(client.Login("bo@riverside.example", "Mond-2024-and-a-long-tail").find("BAD PASSWORD"),
            std::string::npos)
      << "22 characters are not what a client sends";
  EXPECT_EQ(client.Login("praha", "praha2024").substr(0, 10), "ANSW LGNS ");

  const std::string log = server->Log();
  for (const char* secret : {"Sol-2025", "Praha2024", "Mill2024"}) {
    EXPECT_EQ(log.find(secret), std::string::npos) << secret << " in the log:\n" << log;
    EXPECT_EQ(log.find(ServerForm(secret)), std::string::npos) << log;
  }
  EXPECT_NE(log.find("BAD PASSWORD ana@riverside.example"), std::string::npos) << log;
  EXPECT_NE(log.find("GROUP DISABLED oldmill"), std::string::npos) << log;
}

TEST_F(RecordsDoubleTest, SessionsEndWithQuitAndStrangersGetErrorPages) {
  auto server = Start();
  Client client(*server);
  EXPECT_EQ(client.Post("HELO_"), "Records Server application is responding\r\n");
  client.Login("riverside-admin", "Admin2024");

  std::string ping = client.Post("PING_wosid=" + client.session());
  ASSERT_EQ(ping.substr(0, 19), "ANSW PING 00000000 ");
  EXPECT_EQ(ping.size(), 40u);
  EXPECT_EQ(ping[23], '-');
  EXPECT_EQ(ping[29], '+');
  EXPECT_EQ(ping.substr(38), "\r\n");
  EXPECT_NE(client.last_date().find(" GMT"), std::string::npos) << "the reply's Date header";

  EXPECT_NE(client.Post("FIND_x").find("UNKNOWN COMMAND"), std::string::npos);
  EXPECT_EQ(client.Post("QUIT_wosid=" + client.session()), "QUIT\r\n");
  std::string after = client.Post("PING_");
  EXPECT_NE(after.find("<HTML>"), std::string::npos);
  EXPECT_NE(after.find("BAD SESSION ID"), std::string::npos);

  const std::string log = server->Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 6) << log;
  EXPECT_NE(log.find("\tPING\twosid=" + client.session() + "\tpong\n"), std::string::npos) << log;
}

TEST_F(RecordsDoubleTest, ClassRecordsCarryTheFixturesValues) {
  auto server = Start();
  Client client(*server);
  client.Login("riverside-admin", "Admin2024");

  std::string reply = client.Post("CLSS_CSPAN001");
  ASSERT_EQ(reply.size(), 40u + 700u) << reply;
  std::string record = reply.substr(40);
  EXPECT_EQ(Text(record, 0, 41), "Spanish Beginners");
  EXPECT_EQ(Text(record, 41, 41), "Élodie Núñez");
  EXPECT_EQ(Text(record, 82, 9), "CSPAN001");
  EXPECT_EQ(Word(record, 94), 1) << "class number";
  EXPECT_EQ(Word(record, 252), 345) << "group number";
  EXPECT_EQ(Word(record, 256), (2025 - 1980) * 512 + 6 * 32 + 30) << "expiry";
  EXPECT_EQ(Word(record, 258), 554) << "the group's country";
  EXPECT_EQ(Text(record, 118, 40), ServerForm("Clase1"));
  EXPECT_EQ(Text(record, 158, 40), ServerForm("Otra2"));

  std::string group = client.Post("CLSS_GRIVER01").substr(40);
  EXPECT_EQ(Word(group, 94), 0x10000 - 998) << "a group's type";
  EXPECT_EQ(Word(group, 100), 1) << "the enabled right";
  const int flags = Word(group, 112);
  EXPECT_EQ(flags & (1 << 1), 1 << 1) << "home study";
  EXPECT_EQ(flags & (1 << 3), 1 << 3) << "rights in the new form";
  EXPECT_EQ(flags & (1 << 4), 1 << 4) << "right 0";
  EXPECT_EQ(flags & (1 << 5), 1 << 5) << "right 1";
  EXPECT_EQ(flags & (1 << 6), 0) << "right 2";
  EXPECT_EQ(Word(group, 270) & 0x3FF, 554);

  EXPECT_EQ(client.Post("CLSS_CXXXX001").substr(0, 14), "ERRO CLSS 0000");
  client.Login("praha", "Praha2024");
  EXPECT_EQ(client.Post("CLSS_CSPAN001").substr(0, 4), "ERRO") << "another group's class";
}

TEST_F(RecordsDoubleTest, TextsComeInUtf8OnlyWhenAskedAndTheLevelAllows) {
  auto server = Start();
  auto old_level = Start({"--protocol-level", "3"});
  Client client(*server);

  client.Login("riverside-admin", "Admin2024", /*unicode=*/false);
  EXPECT_EQ(Text(client.Post("CLSS_CSPAN001").substr(40), 41, 41),
            "\x83lodie N\x9C\x96"
            "ez")
      << "Mac Roman for a group in English";
  client.Login("praha", "Praha2024", /*unicode=*/false);
  EXPECT_EQ(Text(client.Post("CLSS_CCZECH01").substr(40), 41, 41), "Dvo\xDE\x87k")
      << "Mac Central European for a group in Czech";
  client.Login("praha", "Praha2024", /*unicode=*/true);
  EXPECT_EQ(Text(client.Post("CLSS_CCZECH01").substr(40), 41, 41), "Dvořák");

  Client old_client(*old_level);
  old_client.Login("riverside-admin", "Admin2024", /*unicode=*/true);
  EXPECT_EQ(Text(old_client.Post("CLSS_CSPAN001").substr(40), 41, 41),
            "\x83lodie N\x9C\x96"
            "ez")
      << "below level 4 the client's request for UTF-8 is not honoured";
}

TEST_F(RecordsDoubleTest, OlderServerFormsShiftTheGroupFieldAndScrambleBlocks) {
  auto server = Start({"--group-digits", "4", "--protocol-level", "1"});
  Client client(*server);
  std::string reply = client.Login("ana@riverside.example", "Sol-2024");
  ASSERT_GT(reply.size(), 60u) << reply;
  EXPECT_EQ(reply.substr(19, 4), "0345");
  EXPECT_EQ(reply[23], ' ') << "the blank that marks the 4-digit field";
  // The client inserts a "0" at 19; every later column then sits where the 5-digit form has it.
  std::string shifted = reply.substr(0, 19) + "0" + reply.substr(19);
  EXPECT_EQ(Number(shifted, 19, 5), 345);
  EXPECT_EQ(shifted.substr(25, 8), "CSPAN001");
  EXPECT_EQ(shifted.substr(34, 8), "SANA0001");
  EXPECT_EQ(shifted[43], '1');
  EXPECT_EQ(shifted[45], '1');
  EXPECT_EQ(shifted.substr(51, 16), client.session());

  // Level 1: both password fields of a class are one 80-byte block, and flag 1 says so.
  std::string record = client.Post("CLSS_CSPAN001").substr(40);
  unsigned char block[80] = {};
  std::memcpy(block, "Clase1", 6);
  std::memcpy(block + 40, "Otra2", 5);
  Scramble(block, sizeof block);
  EXPECT_EQ(record.substr(118, 80), std::string(reinterpret_cast<char*>(block), 80));
  EXPECT_EQ(Word(record, 112) & (1 << 1), 1 << 1);
}

TEST_F(RecordsDoubleTest, BigEndianRecordsHaveSwappedWords) {
  auto little = Start();
  auto big = Start({"--big-endian"});
  Client to_little(*little), to_big(*big);
  to_little.Login("riverside-admin", "Admin2024");
  std::string login = to_big.Login("riverside-admin", "Admin2024");
  EXPECT_EQ(login[47], '1');

  std::string l = to_little.Post("CLSS_CSPAN001").substr(40);
  std::string b = to_big.Post("CLSS_CSPAN001").substr(40);
  ASSERT_EQ(l.size(), 700u);
  ASSERT_EQ(b.size(), 700u);
  std::set<std::size_t> swapped;
  for (std::size_t offset = 92; offset <= 116; offset += 2) swapped.insert(offset);
  for (std::size_t offset : {248, 250, 252, 256, 258, 260, 262, 264, 266, 268, 270, 272})
    swapped.insert(offset);
  for (std::size_t offset = 0; offset < 700; offset += 2) {
    if (swapped.count(offset)) {
      EXPECT_EQ(b[offset], l[offset + 1]) << "class word at " << offset;
      EXPECT_EQ(b[offset + 1], l[offset]) << "class word at " << offset;
    } else {
      EXPECT_EQ(b.substr(offset, 2), l.substr(offset, 2)) << "class bytes at " << offset;
    }
  }
  EXPECT_EQ(b.substr(256, 2), "\x5A\xDE") << "the expiry date, high byte first";

  std::string ls = to_little.Post("STDS_CSPAN001_SANA0001").substr(40);
  std::string bs = to_big.Post("STDS_CSPAN001_SANA0001").substr(40);
  ASSERT_EQ(bs.size(), 552u);
  EXPECT_EQ(bs.substr(54, 4), std::string("\x00\x01\x5F\x90", 4)) << "time limit 90000";
  EXPECT_EQ(ls.substr(54, 4), std::string("\x90\x5F\x01\x00", 4));
  for (std::size_t offset : {50, 144, 148, 540}) {
    EXPECT_EQ(bs[offset], ls[offset + 1]) << "student word at " << offset;
    EXPECT_EQ(bs[offset + 1], ls[offset]) << "student word at " << offset;
  }
  EXPECT_EQ(bs.substr(0, 50), ls.substr(0, 50)) << "texts keep their bytes";
}

TEST_F(RecordsDoubleTest, StudentRecordsOfAClass) {
  auto server = Start();
  Client client(*server);
  client.Login("ana@riverside.example", "Sol-2024");

  EXPECT_EQ(Number(client.Post("STDN_CSPAN001"), 10, 8), 2);
  std::string all = client.Post("STDA_CSPAN001");
  ASSERT_EQ(Number(all, 10, 8), 2);
  ASSERT_EQ(all.size(), 40u + 2 * 552u);
  EXPECT_EQ(Text(all, 40, 9), "SANA0001");
  EXPECT_EQ(Text(all, 40 + 552, 9), "SBOCHEN1");

  std::string ana = client.Post("STDS_CSPAN001_SANA0001").substr(40);
  ASSERT_EQ(ana.size(), 552u);
  EXPECT_EQ(Text(ana, 9, 41), "Ana Pérez");
  EXPECT_EQ(Word(ana, 50), 2024);
  EXPECT_EQ(ana[52], 1);
  EXPECT_EQ(ana[53], 10);
  EXPECT_EQ(Text(ana, 60, 40), ServerForm("Sol-2024"));
  EXPECT_EQ(Word(ana, 144), 8) << "disabled";
  EXPECT_EQ(Word(ana, 148), (2030 - 1980) * 512 + 12 * 32 + 31);
  EXPECT_EQ(Word(ana, 540), (2024 - 1980) * 512 + 1 * 32 + 15);
  EXPECT_EQ(Text(ana, 388, 50), "ana@riverside.example");

  EXPECT_EQ(client.Post("STDS_CSPAN001_SNOBODY1").substr(0, 4), "ERRO");
  EXPECT_EQ(client.Post("STDA_CCZECH01").substr(0, 4), "ERRO") << "another group's class";
}

TEST_F(RecordsDoubleTest, ClassListComesInPages) {
  auto server = Start({"--page-size", "2"});
  Client client(*server);
  client.Login("riverside-admin", "Admin2024");

  std::string count = client.Post("CLSN__P");
  ASSERT_EQ(Number(count, 10, 8), 5) << count;  // the group and its four classes
  const std::string stamp = count.substr(19, 19);
  EXPECT_EQ(client.Post("CLSN__P").substr(19, 19), stamp) << "no change, same timestamp";

  std::vector<std::string> keys;
  int next = 0, pages = 0;
  for (;;) {
    char parameter[16];
    std::snprintf(parameter, sizeof parameter, "CLSB_%04d_P", next);
    std::string page = client.Post(parameter);
    ASSERT_EQ(page.substr(0, 10), "ANSW CLSB ") << page;
    const int records = Number(page, 10, 8);
    EXPECT_LE(records, 2);
    EXPECT_EQ(Number(page, 39, 4), 700);
    ASSERT_EQ(page.size(), 50u + 700u * static_cast<std::size_t>(records));
    if (records == 0) break;
    for (int i = 0; i < records; ++i) keys.push_back(Text(page, 50 + 700 * i + 82, 9));
    next = Number(page, 44, 4);
    ASSERT_LT(++pages, 10);
  }
  EXPECT_EQ(pages, 3);
  EXPECT_EQ(keys,
            (std::vector<std::string>{"GRIVER01", "CFREN001", "CGERM001", "CITAL001", "CSPAN001"}));
  EXPECT_EQ(Number(client.Post("CLSN__-"), 10, 8), 3) << "every group";
}

TEST_F(RecordsDoubleTest, WrittenClassesAreKeptAndChangeTheListsTimestamp) {
  const std::string database = sysroot_.path("records.sqlite");
  auto server = Start({"--database", database});
  Client writer(*server), reader(*server);
  writer.Login("riverside-admin", "Admin2024", /*unicode=*/false);
  reader.Login("riverside-admin", "Admin2024", /*unicode=*/true);
  const std::string before = writer.Post("CLSN__P").substr(19, 19);

  std::string record(700, '\0');
  std::memcpy(record.data(), "Portuguese", 10);
  std::memcpy(record.data() + 41, "Zo\x91", 3);  // Mac Roman, as the session asked for no UTF-8
  std::memcpy(record.data() + 82, "CNEW0001", 8);
  record[256] = static_cast<char>(30753 & 0xFF);
  record[257] = static_cast<char>(30753 >> 8);
  const std::string password = ServerForm("abc");
  std::memcpy(record.data() + 118, password.data(), password.size());
  std::string reply = writer.Post("CLSW_CNEW0001+NEWCLASS", Base64(record));
  ASSERT_EQ(reply.substr(0, 10), "ANSW CLSW ") << reply;
  ASSERT_GE(reply.size(), 47u);
  const std::string path = reply.substr(39, 8);
  EXPECT_EQ(path[0], 'C');

  std::string written = reader.Post("CLSS_" + path).substr(40);
  ASSERT_EQ(written.size(), 700u);
  EXPECT_EQ(Text(written, 0, 41), "Portuguese");
  EXPECT_EQ(Text(written, 41, 41), "Zoë");
  EXPECT_EQ(Text(written, 118, 40), ServerForm("ABC"));
  EXPECT_EQ(Word(written, 94), 5) << "the group's next class number";
  std::string count = writer.Post("CLSN__P");
  EXPECT_EQ(Number(count, 10, 8), 6);
  EXPECT_NE(count.substr(19, 19), before) << "clients would keep their old list";
  EXPECT_EQ(reply.substr(19, 19), count.substr(19, 19));

  std::memcpy(record.data(), "Portuguese II", 13);
  EXPECT_EQ(writer.Post("CLSW_" + path + "+--------", Base64(record)).substr(0, 4), "ANSW");
  Client student(*server);
  student.Login("bo@riverside.example", "Mond-2024-and-a-long");
  EXPECT_EQ(student.Post("CLSW_" + path + "+--------", Base64(record)).substr(0, 4), "ERRO");
  server.reset();

  // The database outlives the run.
  auto again = std::make_unique<RecordsDouble>(sysroot_.path("again"), "",
                                               std::vector<std::string>{"--database", database});
  ASSERT_EQ(again->error, "");
  Client later(*again);
  later.Login("riverside-admin", "Admin2024");
  EXPECT_EQ(Text(later.Post("CLSS_" + path).substr(40), 0, 41), "Portuguese II");
}

TEST_F(RecordsDoubleTest, PassChangesTheGroupsPassword) {
  auto server = Start();
  Client client(*server);
  client.Login("praha", "Praha2024");
  auto body = [](std::string_view old_password, std::string_view new_password) {
    std::string old_form = ServerForm(old_password), new_form = ServerForm(new_password);
    char text[256];
    std::snprintf(text, sizeof text, "%03zu-->%s<--%03zu-->%s<--", old_form.size(),
                  old_form.c_str(), new_form.size(), new_form.c_str());
    return Base64(text);
  };
  EXPECT_EQ(client.Post("PASS_", body("wrong", "Nova2025")).find("GOOD"), std::string::npos);
  EXPECT_NE(client.Post("PASS_", body("Praha2024", "Nova2025")).find("GOOD"), std::string::npos);
  EXPECT_NE(client.Login("praha", "Praha2024").find("BAD PASSWORD"), std::string::npos);
  EXPECT_EQ(client.Login("praha", "nova2025").substr(0, 10), "ANSW LGNS ");
}

TEST_F(RecordsDoubleTest, CompressedRepliesInflateToAnswers) {
  auto server = Start({"--compress"});
  Client client(*server);
  std::string login = client.Login("riverside-admin", "Admin2024", true, /*compressed=*/true);
  ASSERT_EQ(login.substr(0, 5), "COMP ") << login;
  EXPECT_EQ(login[13], ' ');
  EXPECT_EQ(Client::Inflate(login).substr(0, 19), "ANSW LGNS GRIVER01 ");
  std::string record = client.Post("CLSS_CSPAN001");
  ASSERT_EQ(record.substr(0, 4), "COMP");
  std::string inflated = Client::Inflate(record);
  EXPECT_EQ(inflated.substr(0, 10), "ANSW CLSS ");
  EXPECT_EQ(inflated.size(), 740u);
  EXPECT_LT(record.size(), inflated.size());
  EXPECT_EQ(client.Post("QUIT_"), "QUIT\r\n") << "the end of a session is never compressed";

  // A login that does not ask for compression gets plain replies.
  client.Login("riverside-admin", "Admin2024", true, /*compressed=*/false);
  EXPECT_EQ(client.Post("PING_").substr(0, 10), "ANSW PING ");
}

TEST_F(RecordsDoubleTest, EachQueuedNoticeReplacesOneAnswersHeader) {
  auto server = Start({"--notice", "1:1003", "--notice", "2001"});
  Client client(*server);
  EXPECT_EQ(client.Post("HELO_"), "Records Server application is responding\r\n");
  EXPECT_NE(client.Post("LGNS_", "not Base64!").find("<HTML>"), std::string::npos)
      << "an error page takes no notice";
  std::string login = client.Login("riverside-admin", "Admin2024");
  EXPECT_EQ(login.substr(0, 9), "WEB1 1003");
  EXPECT_EQ(login.substr(10, 8), "GRIVER01") << "the answer itself is intact";
  ASSERT_EQ(client.session().size(), 16u);
  EXPECT_EQ(client.Post("PING_").substr(0, 19), "WEB0 2001 00000000 ");
  EXPECT_EQ(client.Post("PING_").substr(0, 10), "ANSW PING ");
  EXPECT_NE(server->Log().find("notice WEB1 1003"), std::string::npos) << server->Log();
}

TEST_F(RecordsDoubleTest, ServesHttpsWithTheGivenCertificate) {
  testing::TestCertificates certificates(sysroot_.path("tls"));
  ASSERT_EQ(certificates.error, "");
  auto server = Start({"--cert", certificates.certificate, "--key", certificates.key});
  EXPECT_EQ(server->base().rfind("https://127.0.0.1:", 0), 0u) << server->base();
  Client client(*server, certificates.ca);
  EXPECT_EQ(client.Login("riverside-admin", "Admin2024").substr(0, 19), "ANSW LGNS GRIVER01 ");
  EXPECT_EQ(Number(client.Post("STDN_CSPAN001"), 10, 8), 2);
}

TEST_F(RecordsDoubleTest, TheExampleSchoolHasWhatItsHeaderPromises) {
  auto server = std::make_unique<RecordsDouble>(
      sysroot_.path("example"), std::string(NUVEL_EXAMPLES_DIR) + "/records-school.fixture");
  ASSERT_EQ(server->error, "");
  Client client(*server);
  int students = 0, classes = 0, expired = 0, disabled = 0;
  std::vector<bool> install;
  for (auto [login, password] :
       {std::pair{"lakeside", "Lake2024"}, std::pair{"hillcrest", "Hill2024"}}) {
    ASSERT_EQ(client.Login(login, password).substr(0, 10), "ANSW LGNS ") << login;
    std::string page = client.Post("CLSB_0000_P");
    const int records = Number(page, 10, 8);
    for (int i = 0; i < records; ++i) {
      std::string record = page.substr(50 + 700 * static_cast<std::size_t>(i), 700);
      if (Word(record, 94) == 0x10000 - 998) {
        install.push_back(Word(record, 100) == 1);
        continue;
      }
      ++classes;
      const int expiry = Word(record, 256);
      if (expiry > 10000 && expiry != 30753 && expiry < PackedToday()) ++expired;
      std::string list = client.Post("STDA_" + Text(record, 82, 9));
      const int count = Number(list, 10, 8);
      students += count;
      for (int s = 0; s < count; ++s)
        if (Word(list, 40 + 552 * static_cast<std::size_t>(s) + 144) & 8) ++disabled;
    }
  }
  EXPECT_EQ(Number(client.Post("CLSN__-"), 10, 8), 2) << "groups";
  EXPECT_EQ(classes, 4);
  EXPECT_EQ(students, 20);
  EXPECT_EQ(expired, 1);
  EXPECT_EQ(disabled, 1);
  EXPECT_EQ(install, (std::vector<bool>{true, false}));
}

TEST_F(RecordsDoubleTest, FixtureErrorsNameTheLine) {
  struct Case {
    const char* fixture;
    const char* message;
  };
  const Case cases[] = {
      {"[group A]\nnumber = 1\nlogin  = a\n", "3: unknown key \"login\""},
      {"[group A]\nnumber = 1\n[class B]\nexpiry = 2023-02-29\n", "4: expiry must be"},
      {"[group A]\nnumber = 1\n[student C]\n", "3: no class above"},
      {"[group A]\nnumber = 1\n[class B]\n[student C]\nclass = D\n", "4: no class named \"D\""},
      {"[group A]\nnumber = 1\nlogin id = x\n[group B]\nnumber = 2\nlogin id = X\n",
       "the login id \"X\" of \"B\" is used twice"},
      {"[group A]\nnumber = 1\nkey = 1GROUP01\n", "3: key must be 8 letters or digits, the first"},
      {"[group A]\n[school B]\n", "2: unknown section kind"},
      {"[group A]\nlanguage = XYZ\n", "2: unknown language"},
  };
  for (const Case& c : cases) {
    const std::string file = sysroot_.path("bad.fixture");
    WriteTestFile(file, c.fixture);
    int status = 0;
    std::string output;
    ASSERT_FALSE(
        platform::RunAndWait({NUVEL_RECORDS_DOUBLE_BINARY, "--fixture", file}, status, &output));
    EXPECT_EQ(status, 2) << c.fixture;
    EXPECT_NE(output.find(file + ":" + c.message), std::string::npos) << c.fixture << "\n"
                                                                      << output;
  }
}

}  // namespace
}  // namespace nuvel::net
