// The extractor's side of the page service: finds the service of its driver in the meeting folder
// (service_finder.h), starting it when none runs, hands it a page and waits for its answer. Windows
// (Wine) only. The page's path is written in its job file in the spool, and nowhere else: not on a
// command line, not in an environment.
#pragma once

#include <windows.h>

#include <string>

#include "wine_extractor/protocol/engine_settings.h"
#include "wine_extractor/protocol/page_job.h"
#include "wine_extractor/protocol/page_status.h"

namespace wine_extractor {

class ServiceCall {
 public:
  // Hands `job` to the service and waits until it answers. Raises Failure when no service can be
  // started, when it ends or freezes while drawing this page, or when it does not answer within the
  // page's time limit and a grace. A service that ended, froze or took no page before it took this
  // one is replaced and given the page again.
  ServiceCall(const PageJob& job, const std::string& driver, const EngineSettings& settings);
  // Removes the page's files.
  ~ServiceCall();
  ServiceCall(const ServiceCall&) = delete;
  ServiceCall& operator=(const ServiceCall&) = delete;

  // The driver status the service reported, and where its picture is.
  int Status() const noexcept { return answer_.code; }
  // What the service said of a failure; empty for a picture.
  const std::string& Reason() const noexcept { return answer_.reason; }
  // The page's requests that the request rules refused, picture or not.
  const RefusedRequests& Refused() const noexcept { return answer_.refused; }
  std::wstring Picture() const;

 private:
  void Wait(const PageJob& job, const std::string& driver, const EngineSettings& settings);
  void RemoveFiles() const noexcept;
  std::wstring File(const char* suffix) const;
  void Submit(const std::string& text) const;

  std::wstring folder_;  // the service's spool
  std::wstring id_;
  PageStatus answer_;
};

}  // namespace wine_extractor
