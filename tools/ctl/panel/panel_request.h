// What the panel's server makes of one HTTP request before it acts: the request reduced to
// the parts the panel looks at, the gate every request passes (token, Host, method, Origin),
// and the decoding of the JSON bodies into the settings and names the actions take. Nothing
// here touches files, so the fuzz target drives all of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/record_text.h"

namespace vorlund {

// The panel's JSON, read and written by nlohmann-json; objects keep their members' order.
using Json = nlohmann::ordered_json;

// Bodies nested deeper than this are refused.
inline constexpr int kMaxJsonDepth = 8;

// Requests larger than these are refused with 413 before their body is read.
inline constexpr std::size_t kMaxHeaderBytes = 8 * 1024;
inline constexpr std::size_t kMaxBodyBytes = 16 * 1024;

struct PanelRequest {
  std::string method;  // "GET", "POST", ...
  std::string target;  // "/api/state?x=1"
  std::string host;
  std::optional<std::string> origin;
  std::string key;  // the X-Vorlund-Key header
  std::string contentType;
  std::string body;

  std::string_view path() const noexcept;
  // The value of query parameter `name`, percent-decoded, if present.
  std::optional<std::string> query(std::string_view name) const;
};

struct PanelResponse {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // beyond the common ones
};

// A short refusal: the status and its reason as plain text.
PanelResponse refusal(int status, std::string reason);

// The identity of one running panel: the loopback port it listens on and its secret token.
struct PanelIdentity {
  std::uint16_t port = 0;
  std::string token;

  // "http://127.0.0.1:<port>/#key=<token>": the fragment stays in the browser, which sends
  // the key only in the header the page adds.
  std::string url() const;
};

// A fresh token of 32 hexadecimal digits from the system's random source.
std::string makePanelToken();

// The header that carries the token; no cookie does, as cookies ignore ports.
inline constexpr std::string_view kKeyHeader = "X-Vorlund-Key";

// Whether the request carries the panel's token.
bool carriesKey(const PanelRequest& request, const PanelIdentity& identity) noexcept;

// Whether the request may go on: none when it may, else the refusal. The Host must name the
// loopback address and the port (a name that rebinds to it does not); the page itself (a GET
// outside /api/) holds nothing secret, everything else needs the token in kKeyHeader; only
// GET and POST exist, a POST must carry the panel's own Origin and a JSON body.
std::optional<PanelResponse> gateRequest(const PanelRequest& request,
                                         const PanelIdentity& identity);

// The body of a POST as a JSON object (RFC 8259, at most kMaxJsonDepth deep), or the
// refusal (400).
struct BodyObject {
  std::optional<Json> value;
  std::optional<PanelResponse> refused;
};
BodyObject bodyObject(const PanelRequest& request);

// The string member `name` of an object, or empty.
std::string stringMember(const Json& body, std::string_view name);

// {"changes": {"name": value, ...}}: each change as a typed value (a boolean, a number, or a
// choice's label). None when the body is malformed, with `error` saying why; unknown names
// and values that do not fit a field are for applyRecordValues to judge.
std::optional<std::vector<FieldValue>> changeValues(const Json& body, std::string& error);

// A name for a new user preset: as the presets folder allows it, at most 64 bytes.
bool isNewPresetName(std::string_view name) noexcept;

// A description of one line: printable characters, at most 200 bytes.
bool isPresetDescription(std::string_view text) noexcept;

}  // namespace vorlund
