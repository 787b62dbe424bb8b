// The agent's rule for a file name that the page or the server gives it: the name stands for
// one file inside a folder of the agent's choosing, and that file is never run. Everything
// but the shell's own view of a file type is decided here; common/win/name_rule.h adds that.
#pragma once
#include <string>
#include <string_view>

namespace edms {

enum class NameProblem {
  kNone,
  kEmpty,
  kNotText,             // not UTF-8
  kTooLong,             // more than one path component holds (255 UTF-16 units)
  kPath,                // '\', '/', ':' (also a stream name), "." or ".."
  kForbiddenCharacter,  // a C0 or C1 control, DEL, a bidirectional control, one of <>"|?*
  kTrailingDotOrBlank,  // Windows drops them and would name another file
  kDeviceName,          // CON, PRN, AUX, NUL, COM0-9, LPT0-9 (also with a superscript digit), CONIN$, CONOUT$
  kDangerousType,       // the shell would run it
};

// The portable part of the rule: every problem above but kDangerousType, judged on the whole
// name (a device name counts with any extension and with blanks before it: "con .txt").
NameProblem CheckNameText(std::string_view name);

// The extension the shell judges a name by: from the last '.' of the name as Windows keeps it
// (trailing dots and blanks dropped), ASCII lower case ("a.EXE. " -> ".exe"); empty when none.
std::string ShellExtension(std::string_view name);

// True when `extension` (as ShellExtension gives it) is a program, script, shortcut or
// installer type on the fixed list, or one of the ';'-separated entries of `pathext`
// (the PATHEXT value; entries compared without regard to ASCII case).
bool IsProgramExtension(std::string_view extension, std::string_view pathext);

// The document types the agent opens by itself (a view, the check-out's editor) when the
// configuration names none: office documents, PDF, Hangul, images, drawings, text and
// archives.
inline constexpr char kDefaultOpenableTypes[] =
    ".doc;.docx;.docm;.dot;.dotx;.rtf;.wri;.odt;.xls;.xlsx;.xlsm;.xlsb;.xlt;.xltx;.csv;.ods;.ppt;.pptx;.pptm;"
    ".pps;.ppsx;.pot;.potx;.odp;.pdf;.hwp;.hwpx;.hwt;.hml;.txt;.log;.md;.png;.jpg;.jpeg;.gif;.bmp;.tif;"
    ".tiff;.webp;.dwg;.dxf;.dwf;.vsd;.vsdx;.zip;.7z;.rar;.gz;.tar;.egg;.alz";

// True when a file with this extension (as ShellExtension gives it) may be opened by itself:
// `openableTypes` is the configuration's ';'-separated list (entries with or without the dot,
// ASCII case ignored), kDefaultOpenableTypes when empty; "*" opens every type the name rule
// lets through. A name without an extension is opened only under "*".
bool IsOpenableType(std::string_view extension, std::string_view openableTypes);

}  // namespace edms
