// The login reply of the Records server, whatever bytes arrive: reading it never goes past the
// reply, a reply it accepts has every fixed field where the layout puts it, and the older
// 4-digit group form reads the same as the 5-digit form it stands for.
#include <string>

#include "fuzz/fuzz_support.h"
#include "records/protocol.h"

namespace {

using namespace nuvel;

bool IsDigitText(const std::string& text) {
  for (char c : text) {
    if (c != ' ' && c != '+' && c != '-' && (c < '0' || c > '9')) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  records::LoginReply login;
  if (!records::ParseLoginReply(reply, login)) return 0;

  std::string line = reply.substr(0, reply.find_first_of("\r\n"));
  if (line.size() > 23 && line[23] == ' ') line.insert(19, 1, '0');
  if (line.size() < 48) fuzz::Broken("a login reply shorter than its fields was accepted");
  if (!IsDigitText(line.substr(19, 5))) fuzz::Broken("a group field with other characters");
  if (login.protocolLevel < 0 || login.protocolLevel > 9 || login.bigEndian < 0 ||
      login.bigEndian > 9) {
    fuzz::Broken("a one-digit field read as something else");
  }
  if (login.studentKey != line.substr(34, 8)) fuzz::Broken("the student key is not at 34");
  if (login.loginIdentifier.size() > 8 || login.classPath.size() > 8) {
    fuzz::Broken("a fixed field read past its width");
  }
  if (records::IsValidStudentKey(login.studentKey) &&
      !((login.studentKey[0] >= 'A' && login.studentKey[0] <= 'Z') ||
        (login.studentKey[0] >= 'a' && login.studentKey[0] <= 'z'))) {
    fuzz::Broken("a student key not starting with a letter was taken");
  }
  // The shifted line is itself a 5-digit reply (when 23 is no longer a blank) and reads alike.
  if (line[23] != ' ') {
    records::LoginReply again;
    if (!records::ParseLoginReply(line, again) || again.group != login.group ||
        again.studentKey != login.studentKey || again.sessionId != login.sessionId) {
      fuzz::Broken("the 4-digit group form reads differently from its 5-digit form");
    }
  }
  return 0;
}
