#include "devserver/pages.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "common/encoding.h"

namespace devserver {
namespace {

const char* ContentType(std::string_view path) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"}, {".htm", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"}, {".mjs", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"}, {".json", "application/json"},
      {".png", "image/png"}, {".ico", "image/x-icon"}, {".svg", "image/svg+xml"},
      {".txt", "text/plain; charset=utf-8"}};
  for (const auto& [ext, type] : kTypes) {
    std::string_view e(ext);
    if (path.size() >= e.size() && path.substr(path.size() - e.size()) == e) return type;
  }
  return "application/octet-stream";
}

HttpReply Html(int status, std::string body) {
  HttpReply r;
  r.status = status;
  r.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
  r.headers.emplace_back("Cache-Control", "no-store");
  r.body = std::move(body);
  return r;
}

bool Korean(const std::map<std::string, std::string>& query) {
  auto it = query.find("XRQ_LANG");
  return it != query.end() && it->second == "1042";
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

HttpReply StaticFile(const std::string& webDir, std::string_view path) {
  std::string rel = edms::FormDecode(path);
  if (rel.empty() || rel == "/") rel = "/index.html";
  // Any ".." segment, backslash or NUL could leave the folder: refuse them all.
  bool unsafe = rel[0] != '/' || rel.find('\\') != std::string::npos || rel.find('\0') != std::string::npos ||
                rel.find("/../") != std::string::npos || (rel.size() >= 3 && rel.compare(rel.size() - 3, 3, "/..") == 0);
  if (!unsafe) {
    std::string full = webDir + rel;
    UniqueFd fd(::open(full.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (fd.valid() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
      HttpReply r;
      r.headers.emplace_back("Content-Type", ContentType(rel));
      r.headers.emplace_back("Cache-Control", "no-cache");
      r.file = std::move(fd);
      r.fileSize = uint64_t(st.st_size);
      return r;
    }
  }
  return Html(404, "<!DOCTYPE html><html><body><p>Not found.</p></body></html>");
}

HttpReply NoticePage(Store& store, const std::map<std::string, std::string>& query) {
  auto userIt = query.find("XRQ_USER");
  std::string user = userIt == query.end() ? std::string() : userIt->second;
  bool ko = Korean(query);
  std::vector<Notice> notices;
  {
    std::lock_guard<std::mutex> lock(store.mutex());
    notices = store.Notices(user);
    store.MarkNoticesRead(user);
  }
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"" + std::string(ko ? "ko" : "en") +
      "\"><head><meta charset=\"utf-8\"><title>" + (ko ? "공지" : "Notice") +
      "</title>\n<style>body{font-family:sans-serif;margin:12px;overflow:auto}"
      "li{margin-bottom:8px}.unread{font-weight:bold}.when{color:#666;font-size:small}</style></head>\n"
      "<body style=\"width:600px;height:400px\">\n<h3>" +
      (ko ? "공지 사항 - " : "Notices for ") + HtmlEscape(user) + "</h3>\n";
  if (notices.empty()) {
    html += std::string("<p id=\"empty\">") + (ko ? "공지가 없습니다." : "There are no notices.") + "</p>\n";
  } else {
    html += "<ul id=\"notices\">\n";
    for (const Notice& n : notices) {
      html += "<li class=\"" + std::string(n.read ? "read" : "unread") + "\" data-id=\"" + std::to_string(n.id) +
              "\"><div>" + HtmlEscape(n.title) + "</div><div>" + HtmlEscape(n.body) +
              "</div><div class=\"when\">" + HtmlEscape(n.created) + "</div></li>\n";
    }
    html += "</ul>\n";
  }
  html += std::string("<p><a id=\"close\" href=\"/notice/close?ZELTO_ACTION=close\">") + (ko ? "닫기" : "Close") +
          "</a></p>\n</body></html>\n";
  return Html(200, std::move(html));
}

HttpReply NoticeClosedPage() {
  return Html(200, "<!DOCTYPE html><html><body style=\"width:600px;height:400px\"><p>Closed.</p></body></html>");
}

}  // namespace devserver
