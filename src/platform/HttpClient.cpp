#include "platform/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>

#include "platform/Cancellation.h"

namespace brisklet {
namespace {

struct Transfer {
  const HttpRequest& request;
  const std::stop_token& stop;
  HttpResponse response;
  bool tooLarge = false;
};

size_t receiveBody(char* data, size_t size, size_t count, void* context) {
  auto& transfer = *static_cast<Transfer*>(context);
  const size_t bytes = size * count;
  if (transfer.response.body.size() + bytes > transfer.request.maximumResponseBytes) {
    transfer.tooLarge = true;
    return 0;  // makes curl stop with a write error
  }
  transfer.response.body.append(data, bytes);
  return bytes;
}

size_t receiveHeader(char* data, size_t size, size_t count, void* context) {
  auto& transfer = *static_cast<Transfer*>(context);
  const std::string_view line(data, size * count);
  const size_t colon = line.find(':');
  if (line.starts_with("HTTP/")) {
    transfer.response.headers.clear();  // a new response (after a 100 Continue or a redirect)
  } else if (colon != std::string_view::npos) {
    std::string name(line.substr(0, colon));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.front())))
      value.remove_prefix(1);
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
      value.remove_suffix(1);
    transfer.response.headers[name] = std::string(value);
  }
  return size * count;
}

int reportProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Transfer*>(context)->stop.stop_requested() ? 1 : 0;
}

void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

HeaderList headerList(const HttpRequest& request) {
  HeaderList list;
  const auto append = [&](const std::string& line) {
    curl_slist* extended = curl_slist_append(list.get(), line.c_str());
    if (extended == nullptr) throw HttpTransportError("Out of memory while preparing a request.");
    (void)list.release();  // now part of `extended`
    list.reset(extended);
  };
  for (const auto& [name, value] : request.headers) {
    // A line break would end the header and start another of the sender's choosing (a key
    // pasted with one); such a request is not sent. The value is never repeated: it may be a key.
    const auto isControl = [](char c) {
      return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f;
    };
    if (std::any_of(name.begin(), name.end(), isControl) ||
        std::any_of(value.begin(), value.end(), isControl))
      throw HttpTransportError("The request header \u201c" +
                                   std::string(name.size() <= 40 ? name : "?") +
                                   "\u201d holds a line break or another control character, so "
                                   "the request was not sent. Check the key in Settings.",
                               /*requestSent=*/false);
    append(name + ": " + value);
  }
  // curl would otherwise add "Expect: 100-continue" to large bodies and wait for an answer.
  append("Expect:");
  return list;
}

}  // namespace

HttpResponse sendHttpRequest(const HttpRequest& request, const std::stop_token& stop) {
  throwIfCancelled(stop);
  initialiseCurlOnce();
  const std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) throw HttpTransportError("The network library could not start a request.");

  const auto headers = headerList(request);

  Transfer transfer{request, stop, {}};
  char errorText[CURL_ERROR_SIZE] = {};
  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  if (request.method == "POST" || !request.body.empty()) {
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
  }
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, static_cast<long>(request.timeout.count()));
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, request.allowedSchemes.c_str());
  if (!request.certificateAuthorities.empty())
    curl_easy_setopt(handle, CURLOPT_CAINFO, request.certificateAuthorities.c_str());
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");  // whatever curl can decompress
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, receiveBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, receiveHeader);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, reportProgress);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);

  const CURLcode result = curl_easy_perform(handle);
  if (result == CURLE_ABORTED_BY_CALLBACK) throw Cancelled();
  if (transfer.tooLarge)
    throw HttpTransportError("The answer was larger than " +
                             (request.maximumResponseBytes >= (1u << 20)
                                  ? std::to_string(request.maximumResponseBytes >> 20) + " MiB."
                                  : std::to_string(request.maximumResponseBytes) + " bytes."));
  if (result != CURLE_OK) {
    long requestBytes = 0;
    curl_easy_getinfo(handle, CURLINFO_REQUEST_SIZE, &requestBytes);
    throw HttpTransportError(std::string("The request failed: ") +
                                 (errorText[0] != '\0' ? errorText : curl_easy_strerror(result)) +
                                 ".",
                             requestBytes > 0);
  }
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &transfer.response.status);
  return std::move(transfer.response);
}

}  // namespace brisklet
