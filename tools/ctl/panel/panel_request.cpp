#include "panel_request.h"

#include <array>
#include <charconv>
#include <random>

#include "common/preset_library.h"

namespace vorlund {
namespace {

constexpr std::size_t kMaxPresetName = 64;
constexpr std::size_t kMaxDescription = 200;

int hexDigit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
        hexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i] == '+' ? ' ' : text[i];
    }
  }
  return out;
}

// Compares without stopping at the first difference, so timing tells nothing of the token.
bool sameSecret(std::string_view given, std::string_view secret) noexcept {
  unsigned difference = given.size() == secret.size() ? 0u : 1u;
  for (std::size_t i = 0; i < secret.size(); ++i)
    difference |= static_cast<unsigned char>(i < given.size() ? given[i] : 0) ^
                  static_cast<unsigned char>(secret[i]);
  return difference == 0;
}

bool isLoopbackAuthority(std::string_view authority, std::uint16_t port) {
  const std::size_t colon = authority.rfind(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view name = authority.substr(0, colon);
  const std::string_view digits = authority.substr(colon + 1);
  unsigned value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return (name == "127.0.0.1" || name == "localhost") && error == std::errc() &&
         end == digits.data() + digits.size() && value == port && digits.front() != '0';
}

}  // namespace

std::string_view PanelRequest::path() const noexcept {
  const std::string_view all = target;
  return all.substr(0, all.find('?'));
}

std::optional<std::string> PanelRequest::query(std::string_view name) const {
  const std::size_t mark = target.find('?');
  if (mark == std::string::npos) return std::nullopt;
  std::string_view rest = std::string_view(target).substr(mark + 1);
  while (!rest.empty()) {
    const std::size_t end = rest.find('&');
    const std::string_view pair = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const std::size_t equals = pair.find('=');
    if (percentDecoded(pair.substr(0, equals)) == name)
      return equals == std::string_view::npos ? std::string()
                                              : percentDecoded(pair.substr(equals + 1));
  }
  return std::nullopt;
}

PanelResponse refusal(int status, std::string reason) {
  PanelResponse response;
  response.status = status;
  response.body = std::move(reason) + "\n";
  return response;
}

std::string PanelIdentity::url() const {
  return "http://127.0.0.1:" + std::to_string(port) + "/#key=" + token;
}

std::string makePanelToken() {
  std::random_device source;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 4; ++i) {
    std::uint32_t bits = source();
    for (int j = 0; j < 8; ++j, bits >>= 4) token += kHex[bits & 15u];
  }
  return token;
}

bool carriesKey(const PanelRequest& request, const PanelIdentity& identity) noexcept {
  return sameSecret(request.key, identity.token);
}

std::optional<PanelResponse> gateRequest(const PanelRequest& request,
                                         const PanelIdentity& identity) {
  if (!isLoopbackAuthority(request.host, identity.port))
    return refusal(403,
                   "forbidden: the Host header must be 127.0.0.1:" + std::to_string(identity.port));
  if (request.method == "GET" && !request.path().starts_with("/api/")) return std::nullopt;
  if (!carriesKey(request, identity))
    return refusal(403, "forbidden: open the panel with the address vorlund-ctl printed");
  if (request.method == "GET") return std::nullopt;
  if (request.method != "POST") return refusal(405, "method not allowed: only GET and POST");
  const std::string_view origin = request.origin ? *request.origin : std::string_view();
  if (!origin.starts_with("http://") || !isLoopbackAuthority(origin.substr(7), identity.port))
    return refusal(403, "forbidden: changes are taken only from the panel's own page");
  if (!request.contentType.starts_with("application/json"))
    return refusal(415, "unsupported media type: send application/json");
  return std::nullopt;
}

BodyObject bodyObject(const PanelRequest& request) {
  BodyObject result;
  bool tooDeep = false;
  Json value = Json::parse(
      request.body,
      [&](int depth, Json::parse_event_t, Json&) {
        tooDeep = tooDeep || depth > kMaxJsonDepth;
        return !tooDeep;
      },
      false);
  if (value.is_discarded() || tooDeep) {
    result.refused = refusal(400, tooDeep ? "bad request: the body nests too deeply"
                                          : "bad request: the body is not JSON");
  } else if (!value.is_object()) {
    result.refused = refusal(400, "bad request: the body must be a JSON object");
  } else {
    result.value = std::move(value);
  }
  return result;
}

std::string stringMember(const Json& body, std::string_view name) {
  const auto member = body.find(name);
  return member != body.end() && member->is_string() ? member->get<std::string>() : std::string();
}

std::optional<std::vector<FieldValue>> changeValues(const Json& body, std::string& error) {
  const auto changes = body.find("changes");
  if (changes == body.end() || !changes->is_object() || changes->empty()) {
    error = "'changes' must be an object of field names and values";
    return std::nullopt;
  }
  std::vector<FieldValue> values;
  for (const auto& [name, value] : changes->items()) {
    if (value.is_boolean()) {
      values.push_back({name, value.get<bool>()});
    } else if (value.is_number()) {
      values.push_back({name, value.get<double>()});
    } else if (value.is_string()) {
      values.push_back({name, value.get<std::string>()});
    } else {
      error = "'" + name + "' takes a number, true or false, or a label";
      return std::nullopt;
    }
  }
  return values;
}

bool isNewPresetName(std::string_view name) noexcept {
  return name.size() <= kMaxPresetName && isPresetName(name);
}

bool isPresetDescription(std::string_view text) noexcept {
  if (text.size() > kMaxDescription) return false;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace vorlund
