#include "engine/version_page_win.h"

#include "product/product_config.h"
#include "engine/pipeline_logic.h"

namespace {

bool has_page(const RequestParam& param) {
    return param.status == 200 && !param.text.empty();
}

} // namespace

version_page fetch_version_page(const version_page_steps& steps) {
    version_page page{RequestParam(g_product.server_host(), server_port(), L"", L"GET", 1)};
    RequestParam& param = page.param;
    param.path = version_page_path(g_product.download_path());
    request_url(param);
    if (steps.fetched)
        steps.fetched(param);
    page.ok = has_page(param);
    if (page.ok)
        return page;
    if (steps.failed)
        steps.failed(param);
    if (param.is_https != 1 || param.port != 443)
        return page;
    // Every later request of this process goes to port 80.
    fall_back_to_plain_http();
    param.full_url.clear();
    param.is_https = 0;
    param.port = 80;
    page.retried = true;
    if (steps.retrying)
        steps.retrying();
    request_url(param);
    if (steps.refetched)
        steps.refetched(param);
    page.ok = has_page(param);
    return page;
}
