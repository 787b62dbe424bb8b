#include "common/version.h"

#include <climits>
#include <vector>

namespace edms {
namespace {

std::vector<std::string_view> SplitDots(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t dot = text.find('.', start);
    if (dot == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, dot - start));
    start = dot + 1;
  }
}

// Reads like the C library's decimal conversion; saturates instead of overflowing.
long long LeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) value = INT_MAX;
  }
  return negative ? -value : value;
}

}  // namespace

VersionChoices NextVersions(std::string_view versionNo) {
  std::vector<std::string_view> parts = SplitDots(versionNo);
  long long major = 0;
  long long minor = 0;
  std::string prefix;
  if (parts.size() < 2) {
    major = LeadingNumber(parts[0]);
  } else {
    major = LeadingNumber(parts[parts.size() - 2]);
    minor = LeadingNumber(parts[parts.size() - 1]);
    for (size_t i = 0; i + 2 < parts.size(); ++i) {
      prefix.append(parts[i]);
      prefix.push_back('.');
    }
  }
  auto join = [&](long long a, long long b) {
    return prefix + std::to_string(a) + "." + std::to_string(b);
  };
  return VersionChoices{join(major, minor), join(major, minor + 1), join(major + 1, 0)};
}

int CompareVersions(std::string_view a, std::string_view b) {
  std::vector<std::string_view> pa = SplitDots(a);
  std::vector<std::string_view> pb = SplitDots(b);
  size_t n = pa.size() > pb.size() ? pa.size() : pb.size();
  for (size_t i = 0; i < n; ++i) {
    long long x = i < pa.size() ? LeadingNumber(pa[i]) : 0;
    long long y = i < pb.size() ? LeadingNumber(pb[i]) : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

}  // namespace edms
