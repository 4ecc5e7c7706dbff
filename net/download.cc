#include "net/download.h"

#include <zip.h>

#include <strings.h>

#include "base/ascii.h"
#include "base/log.h"
#include "base/strings.h"
#include "base/paths.h"
#include "installer/expand.h"
#include "net/transport.h"
#include "platform/files.h"
#include "ui/prompts.h"

namespace nuvel::net {
namespace {

// True when the archive opens as a zip whose central directory agrees with its entries: a file
// cut short or an error page saved under the archive's name does not.
bool IsCompleteArchive(const std::string& path) {
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
  if (archive == nullptr) return false;
  zip_discard(archive);
  return true;
}

}  // namespace

int DownloadFile(const std::string& localDir, std::string& fileName, std::string& urlBase) {
  if (urlBase.empty() || strcasecmp(urlBase.c_str(), kOldCoursePageAddress) == 0) {
    urlBase = kDefaultDownloadAddress;
  }
  std::string effective = urlBase;
  base::WriteLogf(1, "GetPreReleaseDownloadAddress-2 (%s) (%s)", urlBase.c_str(),
                  effective.c_str());
  if (effective.empty()) effective = urlBase;
  const int result = CFDownloadFile(localDir, fileName, effective);
  // The transfer stores the name upper-cased unless it keeps its case.
  if (fileName.find("_zp") == std::string::npos &&
      effective.find("elective_d") == std::string::npos) {
    fileName = base::UpperAscii(fileName);
  }
  return result;
}

int DownloadCourse(const std::string& destDir, const std::string& fileName,
                   const std::string& urlBase) {
  const std::string local = base::Paths().localNuvelDirectory;
  std::string name = fileName;
  std::string address = urlBase;
  if (DownloadFile(local, name, address) != 0) return -1;
  const std::string archive = local + name;
  if (!IsCompleteArchive(archive)) {
    base::WriteLogf(0, "ERROR: DownloadCourse %s is not a complete archive; deleted",
                    archive.c_str());
    platform::RemoveFile(archive);
    ui::Ask(
        {.id = "MSG_Message_ErrorDownloading",
         .message = base::Localize("MSG_Message_ErrorDownloading") + "\r\r" + address + "/" + name,
         .buttons = {"MSG_Button_OK"}});
    return -1;
  }
  return installer::ExpandFile(destDir, archive, 0) == 0 ? 0 : -1;
}

}  // namespace nuvel::net
