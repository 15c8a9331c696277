// Fuzz target for the control panel's requests: any bytes (up to 32 KiB) are read as an HTTP
// request the way the panel's server reads one (Boost.Beast's parser within the panel's size
// limits), then go through the gate and, whatever the gate says, through the JSON reader and
// the decoding of field changes, whose typed values are applied to a record. It requires: no
// crash or sanitizer report; the gate lets through only a GET or a POST whose Host is the
// loopback address and port and which carries the token (a GET of the page needs none), a
// POST only with the panel's own Origin and a JSON body; every refusal is a 4xx; an accepted
// body is an object no deeper than the reader's limit; values applied to a record leave it
// sanitised.
#include <cstring>
#include <string>

#include "common/record_text.h"
#include "fuzz_input.h"
#include "http_message.h"

namespace vorlund::fuzz {
namespace {

constexpr std::size_t kMaxRequestBytes = 32 * 1024;

int depth(const Json& value) {
  int deepest = 0;
  if (value.is_structured())
    for (const Json& item : value) deepest = std::max(deepest, depth(item));
  return 1 + deepest;
}

// What the gate must conclude, from the request's parts alone.
bool passes(const PanelRequest& request, const PanelIdentity& identity) {
  const std::string port = std::to_string(identity.port);
  const bool host = request.host == "127.0.0.1:" + port || request.host == "localhost:" + port;
  const bool token = request.key == identity.token;
  if (request.method == "GET") return host && (token || !request.path().starts_with("/api/"));
  const bool origin =
      request.origin == "http://127.0.0.1:" + port || request.origin == "http://localhost:" + port;
  return request.method == "POST" && host && token && origin &&
         request.contentType.starts_with("application/json");
}

}  // namespace
}  // namespace vorlund::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vorlund;
  using namespace vorlund::fuzz;
  namespace http = boost::beast::http;
  if (size > kMaxRequestBytes) return -1;  // outside the target's domain: not added to the corpus
  const PanelIdentity identity{8765, "0123456789abcdef0123456789abcdef"};

  http::request_parser<http::string_body> parser;
  limitParser(parser);
  parser.eager(true);
  boost::beast::error_code error;
  std::size_t used = 0;
  while (!error && used < size && !parser.is_done()) {
    const std::size_t n = parser.put(boost::asio::buffer(data + used, size - used), error);
    if (n == 0 && !error) break;
    used += n;
  }
  if (!error && !parser.is_done()) parser.put_eof(error);
  if (error || !parser.is_done()) return 0;

  const PanelRequest request = toPanelRequest(parser.get());
  const std::optional<PanelResponse> refused = gateRequest(request, identity);
  if (refused) require(refused->status >= 400 && refused->status < 500, "a refusal is a 4xx");
  // The gate may be stricter than this check, never more lenient.
  if (!refused) require(passes(request, identity), "only a well-formed request passes the gate");

  const BodyObject body = bodyObject(request);
  require(body.value.has_value() != body.refused.has_value(), "a body is taken or refused");
  if (!body.value) return 0;
  require(body.value->is_object(), "an accepted body is an object");
  require(depth(*body.value) <= kMaxJsonDepth + 1, "nesting stays within the limit");

  std::string problem;
  const std::optional<std::vector<FieldValue>> values = changeValues(*body.value, problem);
  require(values.has_value() != !problem.empty(), "changes are decoded or refused with a reason");
  if (!values) return 0;
  ParameterBlock record;
  setDefaults(record);
  if (applyRecordValues(*values, record).ok()) {
    ParameterBlock clean = record;
    sanitise(clean);
    require(std::memcmp(&clean, &record, sizeof record) == 0,
            "applied values leave a sanitised record");
  }
  return 0;
}
