// The XML reader: decoding to UTF-8, the tolerant tokeniser and element table,
// cursor navigation and element data with reference decoding.
#include "backup/XmlDocument.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/ReadOnlyFile.h"
#include "platform/Text.h"

namespace vantrel {
namespace {

// Only this much of the start is searched for a declared encoding.
constexpr size_t kDeclarationWindow = 1024;

struct NamedEntity {
  const char* name;
  uint32_t codePoint;
};

// The character entity names of HTML 4.01, plus XML's apos. Property lists
// use only the five XML ones, but HTML-minded writers use the others.
constexpr NamedEntity kEntities[] = {
    {"quot", 34},     {"amp", 38},      {"apos", 39},      {"lt", 60},        {"gt", 62},
    {"nbsp", 160},    {"iexcl", 161},   {"cent", 162},     {"pound", 163},    {"curren", 164},
    {"yen", 165},     {"brvbar", 166},  {"sect", 167},     {"uml", 168},      {"copy", 169},
    {"ordf", 170},    {"laquo", 171},   {"not", 172},      {"shy", 173},      {"reg", 174},
    {"macr", 175},    {"deg", 176},     {"plusmn", 177},   {"sup2", 178},     {"sup3", 179},
    {"acute", 180},   {"micro", 181},   {"para", 182},     {"middot", 183},   {"cedil", 184},
    {"sup1", 185},    {"ordm", 186},    {"raquo", 187},    {"frac14", 188},   {"frac12", 189},
    {"frac34", 190},  {"iquest", 191},  {"Agrave", 192},   {"Aacute", 193},   {"Acirc", 194},
    {"Atilde", 195},  {"Auml", 196},    {"Aring", 197},    {"AElig", 198},    {"Ccedil", 199},
    {"Egrave", 200},  {"Eacute", 201},  {"Ecirc", 202},    {"Euml", 203},     {"Igrave", 204},
    {"Iacute", 205},  {"Icirc", 206},   {"Iuml", 207},     {"ETH", 208},      {"Ntilde", 209},
    {"Ograve", 210},  {"Oacute", 211},  {"Ocirc", 212},    {"Otilde", 213},   {"Ouml", 214},
    {"times", 215},   {"Oslash", 216},  {"Ugrave", 217},   {"Uacute", 218},   {"Ucirc", 219},
    {"Uuml", 220},    {"Yacute", 221},  {"THORN", 222},    {"szlig", 223},    {"agrave", 224},
    {"aacute", 225},  {"acirc", 226},   {"atilde", 227},   {"auml", 228},     {"aring", 229},
    {"aelig", 230},   {"ccedil", 231},  {"egrave", 232},   {"eacute", 233},   {"ecirc", 234},
    {"euml", 235},    {"igrave", 236},  {"iacute", 237},   {"icirc", 238},    {"iuml", 239},
    {"eth", 240},     {"ntilde", 241},  {"ograve", 242},   {"oacute", 243},   {"ocirc", 244},
    {"otilde", 245},  {"ouml", 246},    {"divide", 247},   {"oslash", 248},   {"ugrave", 249},
    {"uacute", 250},  {"ucirc", 251},   {"uuml", 252},     {"yacute", 253},   {"thorn", 254},
    {"yuml", 255},    {"OElig", 338},   {"oelig", 339},    {"Scaron", 352},   {"scaron", 353},
    {"Yuml", 376},    {"fnof", 402},    {"circ", 710},     {"tilde", 732},    {"Alpha", 913},
    {"Beta", 914},    {"Gamma", 915},   {"Delta", 916},    {"Epsilon", 917},  {"Zeta", 918},
    {"Eta", 919},     {"Theta", 920},   {"Iota", 921},     {"Kappa", 922},    {"Lambda", 923},
    {"Mu", 924},      {"Nu", 925},      {"Xi", 926},       {"Omicron", 927},  {"Pi", 928},
    {"Rho", 929},     {"Sigma", 931},   {"Tau", 932},      {"Upsilon", 933},  {"Phi", 934},
    {"Chi", 935},     {"Psi", 936},     {"Omega", 937},    {"alpha", 945},    {"beta", 946},
    {"gamma", 947},   {"delta", 948},   {"epsilon", 949},  {"zeta", 950},     {"eta", 951},
    {"theta", 952},   {"iota", 953},    {"kappa", 954},    {"lambda", 955},   {"mu", 956},
    {"nu", 957},      {"xi", 958},      {"omicron", 959},  {"pi", 960},       {"rho", 961},
    {"sigmaf", 962},  {"sigma", 963},   {"tau", 964},      {"upsilon", 965},  {"phi", 966},
    {"chi", 967},     {"psi", 968},     {"omega", 969},    {"thetasym", 977}, {"upsih", 978},
    {"piv", 982},     {"ensp", 8194},   {"emsp", 8195},    {"thinsp", 8201},  {"zwnj", 8204},
    {"zwj", 8205},    {"lrm", 8206},    {"rlm", 8207},     {"ndash", 8211},   {"mdash", 8212},
    {"lsquo", 8216},  {"rsquo", 8217},  {"sbquo", 8218},   {"ldquo", 8220},   {"rdquo", 8221},
    {"bdquo", 8222},  {"dagger", 8224}, {"Dagger", 8225},  {"bull", 8226},    {"hellip", 8230},
    {"permil", 8240}, {"prime", 8242},  {"Prime", 8243},   {"lsaquo", 8249},  {"rsaquo", 8250},
    {"oline", 8254},  {"frasl", 8260},  {"euro", 8364},    {"image", 8465},   {"weierp", 8472},
    {"real", 8476},   {"trade", 8482},  {"alefsym", 8501}, {"larr", 8592},    {"uarr", 8593},
    {"rarr", 8594},   {"darr", 8595},   {"harr", 8596},    {"crarr", 8629},   {"lArr", 8656},
    {"uArr", 8657},   {"rArr", 8658},   {"dArr", 8659},    {"hArr", 8660},    {"forall", 8704},
    {"part", 8706},   {"exist", 8707},  {"empty", 8709},   {"nabla", 8711},   {"isin", 8712},
    {"notin", 8713},  {"ni", 8715},     {"prod", 8719},    {"sum", 8721},     {"minus", 8722},
    {"lowast", 8727}, {"radic", 8730},  {"prop", 8733},    {"infin", 8734},   {"ang", 8736},
    {"and", 8743},    {"or", 8744},     {"cap", 8745},     {"cup", 8746},     {"int", 8747},
    {"there4", 8756}, {"sim", 8764},    {"cong", 8773},    {"asymp", 8776},   {"ne", 8800},
    {"equiv", 8801},  {"le", 8804},     {"ge", 8805},      {"sub", 8834},     {"sup", 8835},
    {"nsub", 8836},   {"sube", 8838},   {"supe", 8839},    {"oplus", 8853},   {"otimes", 8855},
    {"perp", 8869},   {"sdot", 8901},   {"lceil", 8968},   {"rceil", 8969},   {"lfloor", 8970},
    {"rfloor", 8971}, {"lang", 9001},   {"rang", 9002},    {"loz", 9674},     {"spades", 9824},
    {"clubs", 9827},  {"hearts", 9829}, {"diams", 9830}};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A tag name starts with a letter, '_', ':' or any non-ASCII byte.
bool IsNameStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalpha(u) || c == '_' || c == ':' || u >= 0x80;
}

bool StartsWith(std::string_view text, size_t pos, std::string_view prefix) {
  return pos <= text.size() && text.substr(pos, prefix.size()) == prefix;
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

size_t FindIgnoreCase(std::string_view text, std::string_view what, size_t from = 0) {
  if (what.empty() || text.size() < what.size()) return std::string_view::npos;
  for (size_t i = from; i + what.size() <= text.size(); ++i)
    if (EqualsIgnoreCase(text.substr(i, what.size()), what)) return i;
  return std::string_view::npos;
}

// Value of a quoted attribute (name="value" or name='value') inside tag, "" when absent.
std::string AttributeValue(std::string_view tag, std::string_view name) {
  size_t pos = 0;
  while ((pos = FindIgnoreCase(tag, name, pos)) != std::string_view::npos) {
    size_t i = pos + name.size();
    const bool boundary = pos > 0 && (IsSpace(tag[pos - 1]) || tag[pos - 1] == '?');
    while (i < tag.size() && IsSpace(tag[i])) ++i;
    if (boundary && i < tag.size() && tag[i] == '=') {
      ++i;
      while (i < tag.size() && IsSpace(tag[i])) ++i;
      if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
        const size_t end = tag.find(tag[i], i + 1);
        if (end != std::string_view::npos) return std::string(tag.substr(i + 1, end - i - 1));
      }
      return {};
    }
    pos += name.size();
  }
  return {};
}

// The encoding the first bytes declare: the xml declaration's encoding
// attribute, or an HTML meta Content-Type charset. "" when none is declared.
std::string DeclaredEncoding(std::string_view head) {
  if (StartsWith(head, 0, "<?xml")) {
    const size_t end = head.find("?>");
    if (end != std::string_view::npos) {
      std::string value = AttributeValue(head.substr(0, end), "encoding");
      if (!value.empty()) return value;
    }
  }
  if (FindIgnoreCase(head, "<html") == std::string_view::npos) return {};
  size_t pos = 0;
  while ((pos = FindIgnoreCase(head, "<meta", pos)) != std::string_view::npos) {
    const size_t end = head.find('>', pos);
    if (end == std::string_view::npos) break;
    const std::string_view tag = head.substr(pos, end - pos);
    if (EqualsIgnoreCase(AttributeValue(tag, "http-equiv"), "Content-Type")) {
      const std::string content = AttributeValue(tag, "content");
      const size_t cs = FindIgnoreCase(content, "charset=");
      if (cs != std::string::npos) {
        std::string value = content.substr(cs + 8);
        const size_t stop = value.find_first_of("; \t\"'");
        if (stop != std::string::npos) value.resize(stop);
        return value;
      }
    }
    pos = end;
  }
  return {};
}

// Resolves the Windows and IANA names a document may declare to the names iconv knows.
std::string IconvName(const std::string& declared) {
  static const struct {
    const char* alias;
    const char* name;
  } kAliases[] = {
      {"utf8", "UTF-8"},        {"unicode", "UTF-16LE"},     {"x-gbk", "GBK"},
      {"cp936", "GBK"},         {"gb_2312-80", "GB2312"},    {"big5-hkscs", "BIG5-HKSCS"},
      {"x-sjis", "SHIFT_JIS"},  {"ansi_x3.4-1968", "ASCII"}, {"us-ascii", "ASCII"},
      {"latin1", "ISO-8859-1"}, {"x-euc-tw", "EUC-TW"}};
  for (const auto& a : kAliases)
    if (EqualsIgnoreCase(declared, a.alias)) return a.name;
  std::string name = declared;
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

bool IsUtf8Name(const std::string& name) {
  return name == "UTF-8";
}

std::string Quote(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '"')
      out += "&quot;";
    else if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else
      out += c;
  }
  return out;
}

}  // namespace

namespace {

// Parses the name of a character reference (between '&' and ';').
bool ResolveReference(std::string_view name, uint32_t& codePoint) {
  if (name.empty()) return false;
  if (name[0] == '#') {
    std::string_view digits = name.substr(1);
    int base = 10;
    if (!digits.empty() && (digits[0] == 'x' || digits[0] == 'X')) {
      base = 16;
      digits.remove_prefix(1);
    }
    if (digits.empty()) return false;
    uint32_t value = 0;
    for (char c : digits) {
      int d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (base == 16 && c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (base == 16 && c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        return false;
      value = value * base + d;
      if (value > 0x10FFFF) return false;
    }
    // NUL and lone surrogates have no place in UTF-8 text.
    if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return false;
    codePoint = value;
    return true;
  }
  // Exact case first, so that twins such as Alpha and alpha keep their own
  // letters; otherwise the first name that matches without regard to case.
  for (const NamedEntity& e : kEntities) {
    if (name == e.name) {
      codePoint = e.codePoint;
      return true;
    }
  }
  for (const NamedEntity& e : kEntities) {
    if (EqualsIgnoreCase(name, e.name)) {
      codePoint = e.codePoint;
      return true;
    }
  }
  return false;
}

// Appends text with its references decoded. An '&' that starts no recognised
// reference (unknown name, no ';' within ten characters) is kept as written.
void AppendDecoded(std::string_view text, std::string& out) {
  size_t i = 0;
  while (i < text.size()) {
    const size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) {
      out.append(text.substr(i));
      return;
    }
    out.append(text.substr(i, amp - i));
    const size_t semi = text.substr(amp + 1, 10).find(';');
    uint32_t codePoint = 0;
    if (semi != std::string_view::npos && ResolveReference(text.substr(amp + 1, semi), codePoint)) {
      AppendUtf8(codePoint, out);
      i = amp + 1 + semi + 1;
    } else {
      out += '&';
      i = amp + 1;
    }
  }
}

// End of a "<!" declaration such as DOCTYPE: the '>' outside quotes and
// outside an internal subset in brackets. npos when there is none.
size_t EndOfDeclaration(std::string_view t, size_t lt) {
  char quote = 0;
  int depth = 0;
  for (size_t i = lt + 2; i < t.size(); ++i) {
    const char c = t[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '[') {
      ++depth;
    } else if (c == ']') {
      if (depth > 0) --depth;
    } else if (c == '>' && depth == 0) {
      return i;
    }
  }
  return std::string_view::npos;
}

void RemoveNulls(std::string& text, bool& removed) {
  const auto end = std::remove(text.begin(), text.end(), '\0');
  removed = end != text.end();
  text.erase(end, text.end());
}

// How deep the open-element stack is searched for an end tag's partner. Real
// documents nest a few levels; the bound keeps a hostile file linear.
constexpr size_t kEndTagSearchDepth = 256;

// What the text holds at a '<', as the tokeniser reads it. Parse builds the
// element table from these; FirstElementName needs only the first start tag,
// so both read markup the same way.
struct Markup {
  enum Kind {
    Passed,    // a comment, CDATA section, declaration or processing instruction, a '<'
               // that starts no tag, or a broken tag (problem set)
    Unclosed,  // markup that never closes: nothing after it is read (problem set)
    EndTag,    // its name ends at nameEnd
    StartTag,  // empty for <name/>
  };
  Kind kind = Passed;
  size_t next = 0;                // where reading goes on: just past the markup
  const char* problem = nullptr;  // the log record of a broken or unclosed piece
  size_t nameEnd = 0;
  bool empty = false;
};

Markup Unclosed(const char* problem) {
  Markup m;
  m.kind = Markup::Unclosed;
  m.problem = problem;
  return m;
}

Markup ReadMarkup(std::string_view t, size_t lt) {
  Markup m;
  if (StartsWith(t, lt, "<!--")) {
    const size_t end = t.find("-->", lt + 4);
    if (end == std::string_view::npos) return Unclosed("comment_tag_syntax");
    m.next = end + 3;
  } else if (StartsWith(t, lt, "<![CDATA[")) {
    const size_t end = t.find("]]>", lt + 9);
    if (end == std::string_view::npos) return Unclosed("cdata_section_syntax");
    m.next = end + 3;
  } else if (StartsWith(t, lt, "<!")) {
    const size_t end = EndOfDeclaration(t, lt);
    if (end == std::string_view::npos)
      return Unclosed(FindIgnoreCase(t.substr(lt, 9), "<!DOCTYPE") == 0 ? "doctype_tag_syntax"
                                                                        : "exclamation_tag_syntax");
    m.next = end + 1;
  } else if (StartsWith(t, lt, "<?")) {
    const size_t end = t.find("?>", lt + 2);
    if (end == std::string_view::npos) return Unclosed("first_tag_syntax");
    m.next = end + 2;
  } else if (StartsWith(t, lt, "</")) {
    size_t nameEnd = lt + 2;
    while (nameEnd < t.size() && !IsSpace(t[nameEnd]) && t[nameEnd] != '>' && t[nameEnd] != '<')
      ++nameEnd;
    size_t gt = nameEnd;
    while (gt < t.size() && IsSpace(t[gt])) ++gt;
    if (gt >= t.size() || t[gt] != '>' || nameEnd == lt + 2) {
      m.problem = "unterminated_tag_syntax";
      m.next = lt + 2;
      return m;
    }
    m.kind = Markup::EndTag;
    m.nameEnd = nameEnd;
    m.next = gt + 1;
  } else if (lt + 1 < t.size() && IsNameStart(t[lt + 1])) {
    // The tag ends at the first '>' outside quoted attribute values; a '<'
    // outside quotes first means the tag is broken.
    char quote = 0;
    size_t i = lt + 1;
    for (; i < t.size(); ++i) {
      const char c = t[i];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>' || c == '<') {
        break;
      }
    }
    if (i >= t.size()) return Unclosed("unterminated_tag_syntax");
    if (t[i] == '<') {
      m.problem = "unterminated_tag_syntax";
      m.next = i;
      return m;
    }
    m.kind = Markup::StartTag;
    m.empty = t[i - 1] == '/';
    m.next = i + 1;
  } else {
    m.next = lt + 1;  // a '<' that starts no tag is only text
  }
  return m;
}

// The name of the start tag that spans [start, end) of text.
std::string_view TagName(std::string_view text, size_t start, size_t end) {
  const size_t begin = start + 1;
  size_t stop = begin;
  while (stop < end && !IsSpace(text[stop]) && text[stop] != '/' && text[stop] != '>') ++stop;
  return text.substr(begin, stop - begin);
}

}  // namespace

void XmlDocument::Clear() {
  text_.clear();
  result_.clear();
  elements_.assign(1, Element{});
  ResetPosition();
}

void XmlDocument::Log(std::string_view name, std::string_view attributes) {
  result_ += '<';
  result_ += name;
  if (!attributes.empty()) {
    result_ += ' ';
    result_ += attributes;
  }
  result_ += "/>";
}

bool XmlDocument::LoadFile(const std::string& path) {
  Clear();
  ReadOnlyFile file;
  if (!file.Open(path)) {
    // First line of the reason, at most 100 characters.
    std::string reason = file.lastError().substr(0, file.lastError().find('\n')).substr(0, 100);
    Log("file_error", "name=\"" + Quote(path) + "\" description=\"" + Quote(reason) + "\"");
    return false;
  }
  const uint64_t size = file.Size();
  const size_t wanted = static_cast<size_t>(std::min(size, kMaxXmlDocumentBytes));
  std::string bytes(wanted, '\0');
  if (file.ReadAt(0, bytes.data(), wanted) != wanted) {
    Log("file_error", "name=\"" + Quote(path) + "\" description=\"short read\"");
    return false;
  }
  Log("read", "bytes=\"" + std::to_string(wanted) + "\"");
  if (size > kMaxXmlDocumentBytes)
    Log("truncation_error", "bytes=\"" + std::to_string(size) + "\"");
  Decode(bytes);
  Parse();
  return true;
}

bool XmlDocument::LoadBytes(std::string_view bytes) {
  Clear();
  Log("read", "bytes=\"" + std::to_string(bytes.size()) + "\"");
  Decode(
      bytes.substr(0, static_cast<size_t>(std::min<uint64_t>(bytes.size(), kMaxXmlDocumentBytes))));
  Parse();
  return true;
}

bool XmlDocument::LoadText(std::string utf8) {
  Clear();
  text_ = std::move(utf8);
  Parse();
  return true;
}

std::string XmlDocument::DecodeText(std::string_view bytes) {
  XmlDocument doc;
  doc.Decode(
      bytes.substr(0, static_cast<size_t>(std::min<uint64_t>(bytes.size(), kMaxXmlDocumentBytes))));
  return std::move(doc.text_);
}

void XmlDocument::Decode(std::string_view bytes) {
  if (bytes.empty()) return;
  std::string encoding;
  if (StartsWith(bytes, 0, "\xEF\xBB\xBF")) {
    encoding = "UTF-8";
    bytes.remove_prefix(3);
  } else if (StartsWith(bytes, 0, "\xFF\xFE")) {
    encoding = "UTF-16LE";
    bytes.remove_prefix(2);
  } else if (StartsWith(bytes, 0, "\xFE\xFF")) {
    encoding = "UTF-16BE";
    bytes.remove_prefix(2);
  }
  if (!encoding.empty()) {
    Log("bom", "encoding=\"" + encoding + "\"");
  } else if (bytes.size() >= 2 && bytes[0] == '<' && bytes[1] == '\0') {
    // UTF-16 without a mark still shows itself by its first '<'.
    encoding = "UTF-16LE";
    Log("utf16_detection", "encoding=\"UTF-16LE\"");
  } else if (bytes.size() >= 2 && bytes[0] == '\0' && bytes[1] == '<') {
    encoding = "UTF-16BE";
    Log("utf16_detection", "encoding=\"UTF-16BE\"");
  }

  bool lossy = false;
  bool nullsRemoved = false;
  if (encoding == "UTF-16LE" || encoding == "UTF-16BE") {
    if (bytes.size() % 2) {
      Log("truncation_error", "bytes=\"1\"");
      bytes.remove_suffix(1);
    }
    if (encoding == "UTF-16BE") Log("endian_swap");
    ConvertEncoding(bytes, encoding, "UTF-8", text_, &lossy);
    Log("converted_to", "encoding=\"UTF-8\" from=\"" + encoding + "\"");
    if (lossy) Log("conversion_loss");
    RemoveNulls(text_, nullsRemoved);
    if (nullsRemoved) Log("nulls_removed");
    return;
  }

  if (encoding.empty()) {
    const std::string declared = DeclaredEncoding(bytes.substr(0, kDeclarationWindow));
    if (!declared.empty()) {
      encoding = IconvName(declared);
      Log("declared", "encoding=\"" + Quote(declared) + "\"");
      // A UTF-16 declaration on 8-bit text is a mistake of the writer.
      if (encoding.rfind("UTF-16", 0) == 0 || encoding == "UCS-2") encoding = "UTF-8";
    } else if (!bytes.empty() && bytes[0] == '<') {
      encoding = "UTF-8";
    } else {
      const bool valid = IsValidUtf8(bytes);
      Log("utf8_detection", valid ? "valid=\"1\"" : "valid=\"0\"");
      encoding = "UTF-8";  // invalid bytes become U+FFFD below
    }
  }

  std::string raw(bytes);
  RemoveNulls(raw, nullsRemoved);
  if (nullsRemoved) Log("nulls_removed");
  if (!IsUtf8Name(encoding)) {
    if (ConvertEncoding(raw, encoding, "UTF-8", text_, &lossy)) {
      Log("converted_to", "encoding=\"UTF-8\" from=\"" + Quote(encoding) + "\"");
      if (lossy) Log("conversion_loss");
      return;
    }
    Log("unknown_encoding", "encoding=\"" + Quote(encoding) + "\"");
    text_.clear();
  }
  AppendNormalisedUtf8(raw, text_);
  if (text_.size() != raw.size() || text_ != raw) Log("conversion_loss");
}

void XmlDocument::AppendChild(uint32_t parent, uint32_t child) {
  Element& p = elements_[parent];
  elements_[child].parent = parent;
  if (p.firstChild == 0)
    p.firstChild = child;
  else
    elements_[p.lastChild].nextSibling = child;
  p.lastChild = child;
}

// An element whose end tag never came: it ends with its start tag, and its
// children become its following siblings. The element is the last child of
// its parent (everything after it was inside it), so the children's list is
// spliced in after it; their parent fields are put right once parsing ends.
void XmlDocument::Unend(uint32_t index) {
  Element& e = elements_[index];
  Log("unended_start_tag", "pos=\"" + std::to_string(e.start) + "\"");
  e.unended = true;
  e.length = e.tagLength;
  e.endTagLength = 0;
  if (e.firstChild == 0) return;
  e.nextSibling = e.firstChild;
  // An element still open has an open parent, so its parent field is exact.
  elements_[e.parent].lastChild = e.lastChild;
  e.firstChild = e.lastChild = 0;
}

void XmlDocument::CloseElement(std::vector<uint32_t>& open, std::string_view name, size_t endStart,
                               size_t endLength) {
  size_t k = open.size();
  const size_t floor = open.size() > kEndTagSearchDepth ? open.size() - kEndTagSearchDepth : 0;
  while (k > floor && !NameMatches(open[k - 1], name)) --k;
  if (k == floor) {
    Log("lone_end_tag", "pos=\"" + std::to_string(endStart) + "\"");
    return;
  }
  // open[k - 1] is the partner; whatever is above it never got its end tag.
  while (open.size() > k) {
    Unend(open.back());
    open.pop_back();
  }
  Element& e = elements_[open.back()];
  e.length = static_cast<int32_t>(endStart + endLength) - e.start;
  e.endTagLength = static_cast<int32_t>(endLength);
  open.pop_back();
}

void XmlDocument::Parse() {
  const std::string_view t = text_;
  elements_.assign(1, Element{});
  elements_.reserve(t.size() / 64 + 8);
  elements_[0].length = static_cast<int32_t>(t.size());
  std::vector<uint32_t> open;
  size_t pos = 0;
  while (pos < t.size()) {
    const size_t lt = t.find('<', pos);
    if (lt == std::string_view::npos) break;
    const Markup m = ReadMarkup(t, lt);
    if (m.problem) Log(m.problem, "pos=\"" + std::to_string(lt) + "\"");
    if (m.kind == Markup::Unclosed) break;
    if (m.kind == Markup::EndTag) {
      CloseElement(open, t.substr(lt + 2, m.nameEnd - lt - 2), lt, m.next - lt);
    } else if (m.kind == Markup::StartTag) {
      const uint32_t index = static_cast<uint32_t>(elements_.size());
      Element e;
      e.start = static_cast<int32_t>(lt);
      e.tagLength = static_cast<int32_t>(m.next - lt);
      elements_.push_back(e);
      AppendChild(open.empty() ? 0 : open.back(), index);
      if (m.empty)
        elements_[index].length = elements_[index].tagLength;
      else
        open.push_back(index);
    }
    pos = m.next;
  }
  while (!open.empty()) {
    Unend(open.back());
    open.pop_back();
  }
  // Children moved out of unended elements still name them as parent. A
  // parent always precedes its children in the table, so one forward pass
  // settles every chain of unended parents.
  for (size_t i = 1; i < elements_.size(); ++i) {
    const uint32_t p = elements_[i].parent;
    if (p != 0 && elements_[p].unended) elements_[i].parent = elements_[p].parent;
  }
  if (elements_.size() == 1) {
    Log("no_root_element");
  } else if (elements_[elements_[0].firstChild].nextSibling != 0) {
    Log("root_has_sibling");
  }
}

std::string XmlDocument::FirstElementName(std::string_view text) {
  // The element Parse would make the root: the first start tag it reads.
  for (size_t pos = 0; pos < text.size();) {
    const size_t lt = text.find('<', pos);
    if (lt == std::string_view::npos) break;
    const Markup m = ReadMarkup(text, lt);
    if (m.kind == Markup::Unclosed) break;
    if (m.kind == Markup::StartTag) return std::string(TagName(text, lt, m.next));
    pos = m.next;
  }
  return {};
}

std::string_view XmlDocument::ElementName(uint32_t index) const {
  if (index == 0 || index >= elements_.size()) return {};
  const size_t start = static_cast<size_t>(elements_[index].start);
  return TagName(text_, start, start + static_cast<size_t>(elements_[index].tagLength));
}

bool XmlDocument::NameMatches(uint32_t index, std::string_view name) const {
  if (name.empty()) return true;
  const std::string_view tag = ElementName(index);
  return ignoreCase_ ? EqualsIgnoreCase(tag, name) : tag == name;
}

std::string XmlDocument::ElementText(uint32_t index) const {
  if (index == 0 || index >= elements_.size()) return {};
  const Element& e = elements_[index];
  if (e.length <= e.tagLength) return {};
  const std::string_view t = text_;
  size_t pos = static_cast<size_t>(e.start + e.tagLength);
  const size_t end = static_cast<size_t>(e.start + e.length - e.endTagLength);
  std::string out;
  while (pos < end) {
    size_t lt = t.find('<', pos);
    if (lt == std::string_view::npos || lt > end) lt = end;
    AppendDecoded(t.substr(pos, lt - pos), out);
    if (lt >= end) break;
    const std::string_view rest = t.substr(lt, end - lt);
    size_t close = std::string_view::npos;
    if (StartsWith(rest, 0, "<![CDATA[")) {
      close = rest.find("]]>", 9);
      if (close == std::string_view::npos) break;
      out.append(rest.substr(9, close - 9));
      pos = lt + close + 3;
    } else if (StartsWith(rest, 0, "<!--")) {
      close = rest.find("-->", 4);
      if (close == std::string_view::npos) break;
      pos = lt + close + 3;
    } else if (StartsWith(rest, 0, "<?")) {
      close = rest.find("?>", 2);
      if (close == std::string_view::npos) break;
      pos = lt + close + 2;
    } else if (StartsWith(rest, 0, "<!")) {
      close = EndOfDeclaration(rest, 0);
      if (close == std::string_view::npos) break;
      pos = lt + close + 1;
    } else if (StartsWith(rest, 0, "</")) {
      break;  // an end tag ends the data
    } else if (rest.size() > 1 && IsNameStart(rest[1])) {
      return {};  // element content has no data
    } else {
      out += '<';
      pos = lt + 1;
    }
  }
  return out;
}

bool XmlDocument::LocateNext(std::string_view name) {
  if (elements_.size() <= 1) return false;
  uint32_t i = mainPos_ ? elements_[mainPos_].nextSibling : elements_[parentPos_].firstChild;
  for (size_t guard = 0; i != 0 && guard < elements_.size();
       ++guard, i = elements_[i].nextSibling) {
    if (NameMatches(i, name)) {
      mainPos_ = i;
      parentPos_ = elements_[i].parent;
      childPos_ = 0;
      return true;
    }
  }
  return false;
}

bool XmlDocument::LocateChild(std::string_view name) {
  if (elements_.size() <= 1) return false;
  if (mainPos_ == 0 && !LocateNext()) return false;
  uint32_t i = childPos_ ? elements_[childPos_].nextSibling : elements_[mainPos_].firstChild;
  for (size_t guard = 0; i != 0 && guard < elements_.size();
       ++guard, i = elements_[i].nextSibling) {
    if (NameMatches(i, name)) {
      childPos_ = i;
      return true;
    }
  }
  return false;
}

bool XmlDocument::DescendToChild() {
  if (mainPos_ == 0) return false;
  parentPos_ = mainPos_;
  mainPos_ = childPos_;
  childPos_ = 0;
  return true;
}

void XmlDocument::ResetPosition() {
  parentPos_ = mainPos_ = childPos_ = 0;
}

std::string XmlDocument::MainName() const {
  return std::string(ElementName(mainPos_));
}
std::string XmlDocument::ChildName() const {
  return std::string(ElementName(childPos_));
}
std::string XmlDocument::ChildText() const {
  return ElementText(childPos_);
}
std::string XmlDocument::MainText() const {
  return ElementText(mainPos_);
}

}  // namespace vantrel
