#include "service/frontpage.h"

#include "service/listing.h"
#include "service/mediaurls.h"

namespace svc {
namespace {

std::string escapeHtml(const std::string &text)
{
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

} // namespace

std::string frontPage(const std::string &baseUrl)
{
    const auto link = [&baseUrl](const char *player, const std::string &path) {
        const std::string url = escapeHtml(baseUrl + path);
        return std::string("<p class=\"player\">") + player + "<br><a href=\"" + url + "\">" + url
            + "</a></p>\n";
    };
    return std::string(R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Velnor Assistant</title>
<style>
body { font-family: sans-serif; background: #1c1d21; color: #e8e8ea; margin: 2em auto;
       max-width: 40em; padding: 0 1em; line-height: 1.5; }
a { color: #7fb2ff; font-size: 1.3em; word-break: break-all; }
.player { margin: 1.2em 0; }
.note { color: #a0a0a8; }
</style>
</head>
<body>
<h1>Velnor Assistant</h1>
<p>To watch this PC's videos in DeoVR or HereSphere, open the address for your player in the
player's browser, or add it there as a server.</p>
<p lang="zh-CN">要在 DeoVR 或 HereSphere 中观看这台电脑上的视频，请在播放器的浏览器中打开对应的地址，或将它添加为服务器。</p>
)") + link("DeoVR", deoVrLibraryPath())
        + link("HereSphere", hereSphereLibraryPath())
        + R"(<p class="note">DLNA players on the same network find this PC by themselves.</p>
<p class="note" lang="zh-CN">同一网络中的 DLNA 播放器会自动找到这台电脑。</p>
</body>
</html>
)";
}

void installFrontPage(HttpServer &server)
{
    server.Get("/", [](const httplib::Request &request, httplib::Response &response) {
        const std::string base = baseUrlOf(request);
        response.set_header("Cache-Control", "no-cache");
        response.set_content(frontPage(base), "text/html; charset=utf-8");
    });
}

} // namespace svc
