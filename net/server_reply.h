// What the transport hands to the Records-server side: the server's clock from a reply's
// `Date` header, and the test that tells an error page from a protocol answer.
#pragma once

#include <string>
#include <string_view>

namespace nuvel::net {

/// Keeps the reply header text "Date: <value>" of the last reply that had one, for the Records
/// server's clock. The text is stored as given; turning it into the server time is the Records
/// protocol's business.
void UpdateRSTime(std::string_view header_text);

/// The text last given to UpdateRSTime ("" before any).
const std::string& SavedServerDateHeader();
void ResetServerReply();

/// 1 when `reply` is an error page rather than a protocol answer: after at most 10 leading CR
/// or LF characters, its next 100 characters, upper-cased, contain one of the error-page marks
/// ("HTML", "TITLE", "BODY", "BAD SESSION ID", "UNKNOWN COMMAND", "404 NOT FOUND",
/// "CANNOT BE FOUND", "PAGE NOT FOUND", "URL WAS NOT FOUND", "NO INSTANCES AVAILABLE"). Else 0.
int CallToServerWasBad(std::string_view reply);

}  // namespace nuvel::net
