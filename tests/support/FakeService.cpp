#include "support/FakeService.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace brisklet::testing {

FakeService::FakeService(std::string baseAddressVariable)
    : variable_(std::move(baseAddressVariable)), server_(std::make_unique<httplib::Server>()) {
  const auto answer = [this](const httplib::Request& request, const std::string& body,
                             httplib::Response& response) {
    ScriptedResponse scripted{.status = 599, .body = "no scripted answer left"};
    {
      const std::lock_guard lock(mutex_);
      RecordedRequest recorded{request.method, request.path, {}, body};
      for (const auto& [name, value] : request.params) recorded.query[name] = value;
      for (const auto& [name, value] : request.headers) {
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        recorded.headers[lower] = value;
      }
      requests_.push_back(std::move(recorded));
      if (nextAnswer_ < script_.size()) scripted = script_[nextAnswer_++];
    }
    if (scripted.delayMilliseconds > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(scripted.delayMilliseconds));
    response.status = scripted.status;
    for (const auto& [name, value] : scripted.headers) response.set_header(name, value);
    response.set_content(scripted.body, scripted.contentType);
  };
  // Bodies are recorded as they came; of a multipart upload only the parts' contents, one after
  // another (RawStandIn keeps a whole upload byte for byte).
  server_->Post(".*", [answer](const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader& read) {
    std::string body;
    const auto append = [&](const char* data, size_t length) {
      body.append(data, length);
      return true;
    };
    if (request.is_multipart_form_data())
      read([](const httplib::MultipartFormData&) { return true; }, append);
    else
      read(append);
    answer(request, body, response);
  });
  const auto withoutBody = [answer](const httplib::Request& request, httplib::Response& response) {
    answer(request, request.body, response);
  };
  server_->Get(".*", withoutBody);
  server_->Delete(".*", withoutBody);
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("the stand-in service could not listen");
  listener_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  setenv(variable_.c_str(), baseAddress().c_str(), 1);
}

FakeService::~FakeService() {
  unsetenv(variable_.c_str());
  server_->stop();
  listener_.join();
}

void FakeService::enqueue(ScriptedResponse response) {
  const std::lock_guard lock(mutex_);
  script_.push_back(std::move(response));
}

std::vector<RecordedRequest> FakeService::requests() const {
  const std::lock_guard lock(mutex_);
  return requests_;
}

std::string FakeService::baseAddress() const { return "http://127.0.0.1:" + std::to_string(port_); }

}  // namespace brisklet::testing
