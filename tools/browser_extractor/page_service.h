// The extractor's side of the page service: finds the service of this account's temporary folder
// (starting it when none runs), hands it a page and waits for its answer. Windows (Wine) only.
#pragma once

#include <windows.h>

#include <string>

#include "tools/browser_extractor/engine_settings.h"
#include "tools/browser_extractor/page_job.h"

namespace browser {

class ServiceCall {
 public:
  // Hands `job` to the service and waits until it answers. Raises Failure when no service can be
  // started, when it ends while drawing this page, or when it does not answer in time. A service
  // that ended before it took the page is replaced and given the page again.
  ServiceCall(const PageJob& job, const std::string& driver, const EngineSettings& settings);
  // Removes the page's files.
  ~ServiceCall();
  ServiceCall(const ServiceCall&) = delete;
  ServiceCall& operator=(const ServiceCall&) = delete;

  // The driver status the service reported, and where its picture is.
  int Status() const noexcept { return status_; }
  // What the service said of a failure; empty for a picture.
  const std::string& Reason() const noexcept { return reason_; }
  std::wstring Picture() const;

 private:
  void Wait(const PageJob& job, const std::string& driver, const EngineSettings& settings);
  void RemoveFiles() const noexcept;
  std::wstring File(const char* suffix) const;
  void Submit(const std::string& text) const;

  std::wstring spool_;
  std::wstring id_;
  int status_ = -1;
  std::string reason_;
};

}  // namespace browser
