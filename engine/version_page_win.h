#pragma once
// The server's version page, for the launcher's own update check and for the pipeline's
// version step: one request, and when it fails over HTTPS on port 443 one more over plain
// HTTP on port 80, after which the whole process stays on port 80.
#include <functional>

#include "net/request_url.h"

// Where the callers write their own log lines; any may be empty.
struct version_page_steps {
    std::function<void(const RequestParam&)> fetched;   // after the first request
    std::function<void(const RequestParam&)> failed;    // the first request brought no page
    std::function<void()> retrying;                     // before the plain-HTTP request
    std::function<void(const RequestParam&)> refetched; // after the plain-HTTP request
};

struct version_page {
    RequestParam param; // the last request and its answer
    bool ok = false;    // status 200 and a text
    bool retried = false;
};

version_page fetch_version_page(const version_page_steps& steps);
