// Prints what the platform answers for profiles and text helpers, one line
// per question, so that the host stand-ins can be compared with a real Win32
// implementation: the same source is built for Windows (run under Wine) and
// for the host (linked with platform/host/, the layer the publisher's tool
// runs on), and the two outputs must match line for line.
//
// The profile files are written by this program into a fresh folder, byte by
// byte, so that line ends, missing final newlines and code page 932 bytes are
// exactly as intended. Nothing printed depends on that folder's name.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/entry_name.h"
#include "platform/win.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// The work folder as the profile reader takes it, separator included: a
// Windows path there, the host's own path here.
std::string g_base;

std::string Escape(const char* s) {
  if (s == nullptr) return "(null)";
  std::string out = "\"";
  for (const unsigned char* p = (const unsigned char*)s; *p; p++) {
    if (*p >= 0x20 && *p < 0x7F && *p != '\\' && *p != '"') {
      out += (char)*p;
    } else {
      char hex[8];
      snprintf(hex, sizeof(hex), "\\x%02x", *p);
      out += hex;
    }
  }
  return out + "\"";
}

// Bytes of a buffer; a run of untouched fill bytes at the end is shown as a
// count, so that a byte the callee skipped in the middle stays visible.
std::string Dump(const unsigned char* buf, size_t size, unsigned char fill) {
  size_t end = size;
  while (end > 0 && buf[end - 1] == fill) end--;
  std::string out;
  char hex[4];
  for (size_t i = 0; i < end; i++) {
    snprintf(hex, sizeof(hex), "%02x", buf[i]);
    out += hex;
  }
  if (end < size) out += " +" + std::to_string(size - end) + "*fill";
  return out;
}

void MakeWorkFolder() {
#ifdef _WIN32
  char temp[MAX_PATH];
  GetTempPathA(sizeof(temp), temp);
  char name[64];
  snprintf(name, sizeof(name), "wz2peer%lu\\", (unsigned long)GetCurrentProcessId());
  g_base = std::string(temp) + name;
  CreateDirectoryA(g_base.c_str(), nullptr);
#else
  char tmpl[] = "/tmp/wz2peerXXXXXX";
  if (mkdtemp(tmpl) == nullptr) {
    perror("mkdtemp");
    exit(2);
  }
  g_base = std::string(tmpl) + "/";
#endif
}

std::string FileSystemPath(const std::string& name) { return g_base + name; }

std::vector<std::string> g_written;

void WriteRaw(const std::string& name, const std::string& bytes) {
  std::string path = FileSystemPath(name);
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) {
    fprintf(stderr, "cannot write %s\n", path.c_str());
    exit(2);
  }
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
  g_written.push_back(path);
}

void RemoveWorkFolder() {
  for (const std::string& p : g_written) remove(p.c_str());
#ifdef _WIN32
  RemoveDirectoryA(g_base.c_str());
#else
  rmdir(g_base.c_str());
#endif
}

const unsigned char kFill = 0xCC;

// A literal with every byte, NULs included.
template <size_t N>
std::string Raw(const char (&s)[N]) {
  return std::string(s, N - 1);
}

void Ask(const char* file, const char* section, const char* key, const char* def, DWORD capacity) {
  std::vector<unsigned char> buf(capacity + 8, kFill);
  std::string path = g_base + file;
  DWORD ret = GetPrivateProfileStringA(section, key, def, (LPSTR)buf.data(), capacity, path.c_str());
  printf("P %s %s %s def=%s cap=%lu ret=%lu %s\n", file, Escape(section).c_str(), Escape(key).c_str(),
         Escape(def).c_str(), (unsigned long)capacity, (unsigned long)ret, Dump(buf.data(), buf.size(), kFill).c_str());
}

void AskCaps(const char* file, const char* section, const char* key, std::initializer_list<DWORD> caps) {
  for (DWORD c : caps) Ask(file, section, key, "", c);
}

void AskMaxPath(const char* file, const char* section, const char* key) { Ask(file, section, key, "", MAX_PATH); }

// ---- the corpus --------------------------------------------------------------

void ProfileCorpus() {
  WriteRaw("crlf.ini", "[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Title\r\n[UPDATE]\r\nUpdateFile00=u,SOUND.PAK\r\n");
  for (const char* k : {"CompanyName", "GameTitle", "UpdateFile00", "Missing"}) AskMaxPath("crlf.ini", "SETUP", k);
  AskMaxPath("crlf.ini", "UPDATE", "UpdateFile00");
  AskMaxPath("crlf.ini", "NOSECTION", "CompanyName");

  WriteRaw("lf.ini", "[SETUP]\nCompanyName=Maker\nGameTitle=Title\n");
  AskMaxPath("lf.ini", "SETUP", "CompanyName");
  AskMaxPath("lf.ini", "SETUP", "GameTitle");

  WriteRaw("nofinal.ini", "[SETUP]\r\nA=1\r\nB=last");
  AskMaxPath("nofinal.ini", "SETUP", "A");
  AskMaxPath("nofinal.ini", "SETUP", "B");

  WriteRaw("cronly.ini", "[SETUP]\rA=1\rB=2\r");
  AskMaxPath("cronly.ini", "SETUP", "A");
  AskMaxPath("cronly.ini", "SETUP", "B");

  WriteRaw("mixed.ini", "[S]\r\nA=1\rB=2\nC=3\r\n");
  for (const char* k : {"A", "B", "C"}) AskMaxPath("mixed.ini", "S", k);

  WriteRaw("blanks.ini",
           "  [SETUP]  \r\n  Key1  =  value with spaces  \r\n\tKey2\t=\tv2\t\r\nKey3=\r\nKey4 =   \r\n"
           "my key = my value\r\nKey5=a=b\r\nKey6=\ta\tb\t\r\n   \r\n\r\nKey7=after blank lines\r\n");
  for (const char* k : {"Key1", "Key2", "Key3", "Key4", "my key", "Key5", "Key6", "Key7", " Key1 ", "\tKey2"})
    AskMaxPath("blanks.ini", "SETUP", k);
  AskMaxPath("blanks.ini", " SETUP ", "Key1");

  WriteRaw("quotes.ini",
           "[Q]\r\nQ1=\"abc\"\r\nQ2='abc'\r\nQ3=\"abc'\r\nQ4=\"\r\nQ5=\"\"\r\nQ6=''\r\nQ7=\" spaced \"\r\n"
           "Q8=\"a\"b\"\r\nQ9=x\"y\"\r\nQ10=  \"in blanks\"  \r\nQ11=\"abc\r\nQ12=abc\"\r\n");
  for (const char* k : {"Q1", "Q2", "Q3", "Q4", "Q5", "Q6", "Q7", "Q8", "Q9", "Q10", "Q11", "Q12"})
    AskMaxPath("quotes.ini", "Q", k);
  AskCaps("quotes.ini", "Q", "Q1", {1, 2, 3, 4, 5, 6});

  WriteRaw("dup.ini", "[A]\r\nk=1\r\nk=2\r\n[B]\r\nk=3\r\n[A]\r\nk=4\r\nj=5\r\n[a]\r\nm=6\r\n");
  for (const char* k : {"k", "j", "m"}) AskMaxPath("dup.ini", "A", k);
  AskMaxPath("dup.ini", "B", "k");

  WriteRaw("noeq.ini", "[S]\r\njustakey\r\nk=v\r\n;comment=x\r\n; note\r\n#hash=y\r\nbare\r\n");
  for (const char* k : {"justakey", "k", ";comment", "; note", "#hash", "bare", "comment"})
    AskMaxPath("noeq.ini", "S", k);
  Ask("noeq.ini", "S", "justakey", "dflt", MAX_PATH);

  WriteRaw("case.ini", "[Setup]\r\nGAMEEXE=game.exe\r\nUninstExe=uninst.exe\r\n");
  AskMaxPath("case.ini", "SETUP", "gameexe");
  AskMaxPath("case.ini", "setup", "UNINSTEXE");
  AskMaxPath("case.ini", "SeTuP", "GameExe");

  WriteRaw("brackets.ini",
           "[ SP ]\r\nk=sp\r\n[bad\r\nbadkey=1\r\n[a]b]\r\nk=ab\r\n[T] trailing\r\nk=t\r\n[]\r\nk=empty\r\n"
           "[[x]]\r\nk=xx\r\n");
  AskMaxPath("brackets.ini", "SP", "k");
  AskMaxPath("brackets.ini", " SP ", "k");
  AskMaxPath("brackets.ini", "SP", "[bad");
  AskMaxPath("brackets.ini", " SP ", "[bad");
  AskMaxPath("brackets.ini", "a]b", "k");
  AskMaxPath("brackets.ini", "a", "k");
  AskMaxPath("brackets.ini", "T", "k");
  AskMaxPath("brackets.ini", "", "k");
  AskMaxPath("brackets.ini", "[x]", "k");
  AskMaxPath("brackets.ini", "[x", "k");
  for (const char* sec : {"SP", "bad", "[bad", ""}) AskMaxPath("brackets.ini", sec, "badkey");

  WriteRaw("before.ini", "top=1\r\n[S]\r\nk=2\r\n");
  AskMaxPath("before.ini", "", "top");
  AskMaxPath("before.ini", "S", "top");
  AskMaxPath("before.ini", "S", "k");

  WriteRaw("emptyname.ini", "[S]\r\n=first\r\n=second\r\nk=v\r\n=third\r\n");
  AskMaxPath("emptyname.ini", "S", "");
  AskMaxPath("emptyname.ini", "S", "k");

  // Code page 932: kanji whose second byte is 0x5C, half-width kana, full-width
  // letters and the ideographic space.
  WriteRaw("cp932.ini",
           "[\x90\xdd\x92\xe8]\r\n"                      // 設定
           "\x95\x5c\x8e\xa6=\x83\x5c\x83\x74\x83\x67\r\n"  // 表示=ソフト
           "kana=\xb1\xb2\xb3\r\n"                         // ｱｲｳ
           "ends=ab\x95\x5c\r\n"                           // ab表
           "wide=\x81\x40\x92\x6c\x81\x40\r\n"             // 　値　
           "path=DATA\\\x83\x5c\x83\x74\x83\x67\\A.DAT\r\n"
           "[\x82\x72\x82\x64\x82\x73\x82\x74\x82\x6f]\r\n"  // ＳＥＴＵＰ
           "\x82\x60\x82\x61=fullwidth key\r\n"              // ＡＢ
           "[\x83\xb0]\r\nk=sigma\r\n"                       // Σ
           "[\x84\x44]\r\nk=de\r\n"                          // Д
           "[\x84\x4f]\r\nk=o-cyr\r\n");                     // О
  AskMaxPath("cp932.ini", "\x90\xdd\x92\xe8", "\x95\x5c\x8e\xa6");
  AskMaxPath("cp932.ini", "\x90\xdd\x92\xe8", "kana");
  AskMaxPath("cp932.ini", "\x90\xdd\x92\xe8", "ends");
  AskMaxPath("cp932.ini", "\x90\xdd\x92\xe8", "wide");
  AskMaxPath("cp932.ini", "\x90\xdd\x92\xe8", "path");
  AskMaxPath("cp932.ini", "\x82\x72\x82\x64\x82\x73\x82\x74\x82\x6f", "\x82\x60\x82\x61");
  AskMaxPath("cp932.ini", "\x82\x92\x82\x85\x82\x94\x82\x95\x82\x90", "\x82\x81\x82\x82");  // ｓｅｔｕｐ / ａｂ
  AskMaxPath("cp932.ini", "SETUP", "AB");
  AskMaxPath("cp932.ini", "\x83\xd0", "k");  // σ
  AskMaxPath("cp932.ini", "\x84\x75", "k");  // д
  AskMaxPath("cp932.ini", "\x84\x80", "k");  // о (past the gap at 0x7F)
  AskCaps("cp932.ini", "\x90\xdd\x92\xe8", "\x95\x5c\x8e\xa6", {1, 2, 3, 4, 5, 6, 7});
  AskCaps("cp932.ini", "\x90\xdd\x92\xe8", "ends", {3, 4, 5});

  std::string jp;
  for (int i = 0; i < 10; i++) jp += "\x82\xa0";  // あ x 10
  WriteRaw("jplong.ini", "[S]\r\nv=" + jp + "\r\nm=a" + jp + "\r\n");
  AskCaps("jplong.ini", "S", "v", {2, 3, 4, 15, 16, 20, 21, 22});
  AskCaps("jplong.ini", "S", "m", {2, 3, 15, 16, 21, 22, 23});

  std::string long300(300, 'x');
  std::string long1100;
  for (int i = 0; i < 1100; i++) long1100 += (char)('a' + i % 26);
  WriteRaw("long.ini", "[S]\r\nv300=" + long300 + "\r\nv1100=" + long1100 + "\r\n" + std::string(300, 'K') + "=longkey\r\n");
  AskCaps("long.ini", "S", "v300", {1, 2, 3, 20, 259, MAX_PATH, 300, 301});
  AskCaps("long.ini", "S", "v1100", {MAX_PATH, 1023, 1024, 1100, 1101});
  AskMaxPath("long.ini", "S", std::string(300, 'k').c_str());

  WriteRaw("bom.ini", "\xEF\xBB\xBF[SETUP]\r\nA=bom\r\n");
  AskMaxPath("bom.ini", "SETUP", "A");

  WriteRaw("ctrlz.ini", "[S]\r\nk=v\x1a\r\n\x1aj=w\r\n\x1a");
  AskMaxPath("ctrlz.ini", "S", "k");
  AskMaxPath("ctrlz.ini", "S", "j");

  // NUL bytes end a value. (An even-sized file full of NULs may be taken for
  // UTF-16 by the platform's statistical test, which no real profile meets,
  // so the corpus keeps clear of that.)
  WriteRaw("nulodd.ini", Raw("[S]\r\nk=ab\0cd\r\nj=1\r\n\r"));
  AskMaxPath("nulodd.ini", "S", "k");
  AskMaxPath("nulodd.ini", "S", "j");
  WriteRaw("nullate.ini", Raw("[S]\r\na=1\r\nk=ab\0cd\r\nj=1\r\n"));
  for (const char* k : {"a", "k", "j"}) AskMaxPath("nullate.ini", "S", k);
  WriteRaw("nulend.ini", Raw("[S]\r\na=1\r\nb=2\0"));
  for (const char* k : {"a", "b"}) AskMaxPath("nulend.ini", "S", k);

  WriteRaw("empty.ini", "");
  AskMaxPath("empty.ini", "S", "k");
  WriteRaw("comments.ini", "; only comments\r\n; here\r\n");
  AskMaxPath("comments.ini", "S", "k");
  AskMaxPath("missing.ini", "S", "k");
  Ask("missing.ini", "S", "k", "dflt", MAX_PATH);
  Ask("missing.ini", "S", "k", "dflt", 3);
  Ask("missing.ini", "S", "k", "d  ", MAX_PATH);
  Ask("missing.ini", "S", "k", " ", MAX_PATH);
  Ask("missing.ini", "S", "k", "\"q\"", MAX_PATH);
  Ask("missing.ini", "S", "k", nullptr, MAX_PATH);
  Ask("crlf.ini", "SETUP", "Nope", "fallback", MAX_PATH);
  Ask("crlf.ini", "SETUP", "CompanyName", "fallback", MAX_PATH);

  // A manifest and an installed profile as the updater meets them.
  WriteRaw("UPDATE.INI",
           "[SETUP]\r\nCompanyName=Maker\r\nGameTitle=\x83\x5e\x83\x43\x83\x67\x83\x8b\r\nGameClass=TitleWindow\r\n"
           "GameDir=Title\r\nUpdaterVersion=1.01\r\nUpdateMessage=line1\\nline2\r\n[UPDATE]\r\n"
           "RequiredDiskSpace=50000000\r\nUpdateFile00=SETUP.INI\r\nUpdateFile01=u,SOUND.PAK\r\n"
           "UpdateFile02=o,VOICE\\VOICE1.PAK\r\nUpdateFile03=2,d,USER.DAT\r\nUpdateFile04=\r\nCopyFile00=1:MOVIE\r\n"
           "CopyFile01=2,3:DIR\\X,Y\r\n");
  for (const char* k : {"CompanyName", "GameTitle", "GameClass", "GameDir", "GameTitleA", "UpdaterVersion",
                        "UpdateMessage", "DataFolder"})
    AskMaxPath("UPDATE.INI", "SETUP", k);
  for (const char* k : {"RequiredDiskSpace", "UpdateFile00", "UpdateFile01", "UpdateFile02", "UpdateFile03",
                        "UpdateFile04", "CopyFile00", "CopyFile01"})
    Ask("UPDATE.INI", "UPDATE", k, "", 1024);
  WriteRaw("SETUP.INI",
           "[SETUP]\r\nCompanyName = Maker \r\nGameTitle=Title\r\nInstallSelects= 3\r\nInstallSize0=-1\r\n"
           "InstallFiles0=a.dat,1:b.dat, c.dat ,0:d.dat\r\nShortcut0=\"Game\",game.exe\r\n");
  for (const char* k : {"CompanyName", "GameTitle", "InstallSelects", "InstallSize0", "InstallFiles0", "Shortcut0"})
    Ask("SETUP.INI", "SETUP", k, "", 20);

  // The enumeration forms.
  for (const char* f : {"dup.ini", "brackets.ini", "cp932.ini", "missing.ini", "empty.ini"}) {
    for (DWORD cap : {1u, 2u, 3u, 5u, 8u, 260u}) Ask(f, nullptr, "ignored", "", cap);
  }
  for (DWORD cap : {1u, 2u, 3u, 4u, 6u, 260u}) {
    Ask("dup.ini", "A", nullptr, "", cap);
    Ask("noeq.ini", "S", nullptr, "", cap);
    Ask("quotes.ini", "Q", nullptr, "", cap);
    Ask("emptyname.ini", "S", nullptr, "dflt", cap);
  }
  Ask("dup.ini", "nosuch", nullptr, "dflt", MAX_PATH);
  Ask("blanks.ini", " SETUP ", nullptr, "dflt", MAX_PATH);
}

// ---- text helpers --------------------------------------------------------------

void CompareCorpus() {
  // The updater compares operation letters for equality; plain letter pairs
  // also print their order.
  const char* pairs[][2] = {
      {"d", "D"}, {"u", "U"}, {"o", "O"}, {"d", "d"}, {"u ", "u"}, {"d", "dd"}, {"", ""}, {"", "d"}, {"abc", "ABC"},
      {"abc", "abd"}, {"B", "a"}, {"a", "B"}, {"SETUP", "setup"}, {"12", "u"}, {"1", "u"},
      {"\x82\x81", "\x82\x60"},  // ａ / Ａ
      {"\x82\x9a", "\x82\x79"},  // ｚ / Ｚ
      {"\x83\xbf", "\x83\x9f"},  // α / Α
      {"\x83\xd6", "\x83\xb6"},  // ω / Ω
      {"\x84\x70", "\x84\x40"},  // а / А
      {"\x84\x80", "\x84\x4f"},  // о / О
      {"\x84\x91", "\x84\x60"},  // я / Я
      {"\x82\x81", "\x82\x61"},  // ａ / Ｂ
      {"\x82\x84", "d"},          // ｄ / d
      {"\xb1", "\x83\x41"},       // ｱ / ア
      {"\x95\x5c", "\x95\x5c"},   // 表
      {"\x95\x5c", "\x95\x7c"}, {"\x81\x40", " "}, {"\x80", "\x80"}, {"\xa0", "\xa0"}, {"\xfd", "\xfd"},
      {"\xfd", "\xfe"}, {"\xdf", "\xdf"}, {"u\x82\xa0", "U\x82\xa0"},
  };
  for (auto& p : pairs) {
    int r = lstrcmpiA(p[0], p[1]);
    bool letters = true;
    for (int i = 0; i < 2; i++)
      for (const char* c = p[i]; *c; c++)
        if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z'))) letters = false;
    if (letters)
      printf("C %s %s %s\n", Escape(p[0]).c_str(), Escape(p[1]).c_str(), r == 0 ? "=" : (r < 0 ? "<" : ">"));
    else
      printf("C %s %s %s\n", Escape(p[0]).c_str(), Escape(p[1]).c_str(), r == 0 ? "=" : "!=");
  }
}

// ---- entry names -------------------------------------------------------------

unsigned CodeOf(const std::string& c) {
  unsigned code = 0;
  for (unsigned char b : c) code = code << 8 | b;
  return code;
}

// Which characters of code page 932 the entry-name rule takes for one. Every
// character (each single byte that is no lead byte, each lead byte with each
// trail byte 0x40-0x7E, 0x80-0xFC) is sorted with lstrcmpiA, so characters the
// rule calls equal end up side by side whatever the order around them; each
// run of equal characters is printed as one line of codes, consecutive codes
// as ranges. A merge sort copes with an order that is not consistent, which
// then shows as a difference instead of a crash.
void EntryNameClasses() {
  std::vector<std::string> chars;
  for (int b = 1; b < 256; b++)
    if (!IsDBCSLeadByte((BYTE)b)) chars.push_back(std::string(1, (char)b));
  for (int lead = 0x81; lead <= 0xFC; lead++) {
    if (!IsDBCSLeadByte((BYTE)lead)) continue;
    for (int trail = 0x40; trail <= 0xFC; trail++)
      if (trail != 0x7F) chars.push_back(std::string{(char)lead, (char)trail});
  }
  std::vector<std::string> sorted = chars;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) < 0; });
  std::vector<std::vector<size_t>> classes;
  for (size_t i = 0; i < sorted.size();) {
    size_t j = i + 1;
    while (j < sorted.size() && SameEntryName(sorted[i].c_str(), sorted[j].c_str())) j++;
    if (j - i > 1) {
      std::vector<size_t> members;
      for (size_t k = i; k < j; k++)
        members.push_back((size_t)(std::lower_bound(chars.begin(), chars.end(), sorted[k],
                                                    [](const std::string& a, const std::string& b) {
                                                      return CodeOf(a) < CodeOf(b);
                                                    }) -
                                   chars.begin()));
      std::sort(members.begin(), members.end());
      classes.push_back(members);
    }
    i = j;
  }
  std::sort(classes.begin(), classes.end());
  size_t equal = 0;
  for (const std::vector<size_t>& members : classes) {
    equal += members.size();
    std::string line = "N " + std::to_string(members.size());
    for (size_t k = 0; k < members.size();) {
      size_t end = k;
      while (end + 1 < members.size() && members[end + 1] == members[end] + 1) end++;
      char range[24];
      if (end == k)
        snprintf(range, sizeof(range), " %X", CodeOf(chars[members[k]]));
      else
        snprintf(range, sizeof(range), " %X-%X", CodeOf(chars[members[k]]), CodeOf(chars[members[end]]));
      line += range;
      k = end + 1;
    }
    printf("%s\n", line.c_str());
  }
  printf("N total %zu characters, %zu in %zu groups\n", chars.size(), equal, classes.size());
}

// Whole names: the rule applies character by character, double-byte
// characters stay whole, and bytes that make no character become the default
// character wherever they stand.
void EntryNamePairs() {
  const char* pairs[][2] = {
      {"\x82\x72\x82\x60\x82\x75\x82\x64.dat", "\x82\x93\x82\x81\x82\x96\x82\x85.DAT"},  // ＳＡＶＥ / ｓａｖｅ
      {"\x82\x60\x82\x61.DAT", "\x82\x81\x82\x82.DAT"},                        // ＡＢ / ａｂ
      {"\x83\xbf\x84\x70.DAT", "\x83\x9f\x84\x40.dat"},                        // αа / Αа
      {"\xee\xef.DAT", "\x87\x54.DAT"},                                          // ⅰ / Ⅰ
      {"\xfa\x40.DAT", "\xfa\x4a.DAT"},                                          // ⅰ / Ⅰ (IBM)
      {"\xed\x40.DAT", "\xfa\x5c.DAT"},                                          // 纊 twice
      {"\x81\xca\x81\xca", "\xee\xf9\xfa\x54"},                                  // ￢
      {"A\x85\x40.DAT", "A\x81\x45.DAT"},                                        // no character / ・
      {"A\x85\x40.DAT", "A\xeb\x9f.DAT"},
      {"A\x85\x40.DAT", "A.DAT"},
      {"A\x81", "A\x81\x45"},                                                   // lone lead byte at the end
      {"A\x81", "A"},
      {"\x81 .DAT", "\x81\x45.DAT"},                                              // lead byte before a blank
      {"\x81\x7f", "\x81\x45"},
      {"\xf0\x40.DAT", "\xf0\x41.DAT"},                                          // user-defined characters
      {"\xb6\xde.DAT", "\xb6\x81\x4a.DAT"},                                       // ｶﾞ / ｶ゛
      {"\xb6\xde.DAT", "\x83\x4b.DAT"},                                          // ｶﾞ / ガ
      {"\x81\x5b.DAT", "\xb0.DAT"},                                               // ー / ｰ
      {"A\x81\x5b", "A\x81\x52"},                                                // Aー / Aヽ
      {"\x83\x41.DAT", "\x83\x61.DAT"},                                          // ア / ャ: trail bytes in ASCII case
      {"\xb1.DAT", "\x83\x41.DAT"},                                               // ｱ / ア
      {"\x82\xa0.DAT", "\x83\x40.DAT"},                                          // あ / ァ
      {"\x82\x60.DAT", "A.DAT"},                                                 // Ａ / A
      {"\x80.DAT", "\xa0.DAT"}, {"\xfd.DAT", "\xfe.DAT"}, {"\xff.DAT", "\xfd.DAT"},
      {"UPDATE.INI", "update.ini"}, {"A.DAT", "A.DAT "}, {"A.DAT", "A.DA"},
  };
  for (auto& p : pairs)
    printf("M %s %s %s\n", Escape(p[0]).c_str(), Escape(p[1]).c_str(), SameEntryName(p[0], p[1]) ? "=" : "!=");
}

void CodePageCorpus() {
  printf("ACP %u\n", GetACP());
  for (int b = 1; b < 256; b++) {
    char pair[3] = {(char)b, 'A', 0};
    char alone[2] = {(char)b, 0};
    char two[3] = {(char)b, (char)0x5C, 0};
    printf("B %02x lead=%d next=%d alone=%d trail5c=%d\n", b, IsDBCSLeadByte((BYTE)b) ? 1 : 0,
           (int)(CharNextA(pair) - pair), (int)(CharNextA(alone) - alone), (int)(CharNextA(two) - two));
  }
  char empty[1] = {0};
  printf("B 00 next=%d\n", (int)(CharNextA(empty) - empty));
}

void FormatCase(const char* label, int ret, const char* buf, size_t size) {
  printf("F %s ret=%d %s\n", label, ret, Dump((const unsigned char*)buf, size, kFill).c_str());
}

void FormatCorpus() {
  std::vector<char> buf(4096);
  auto reset = [&]() { memset(buf.data(), kFill, buf.size()); };
#define FMT(label, ...)                       \
  do {                                        \
    reset();                                  \
    int r = wsprintfA(buf.data(), __VA_ARGS__); \
    FormatCase(label, r, buf.data(), 1100);   \
  } while (0)
  FMT("missing", "%s : %s キーが存在しません", "SETUP", "GameDir");
  FMT("setupmissing", "SETUP.INI : %s キーが存在しません", "UninstExe");
  FMT("listerror", "SETUP.INI : %s エラー", "InstallFiles1");
  FMT("title", "%s アップデータ %s", "\x83\x5e\x83\x43\x83\x67\x83\x8b", "1.01");
  FMT("title-empty", "%s アップデータ %s", "Title", "");
  FMT("notinstalled", "「%s」がインストールされていません", "Title");
  FMT("insertdisk", "ＣＤ－ＲＯＭドライブに「%s」ディスク %i を入れて下さい", "Title", 2);
  FMT("diskspace", "ディスク容量が足りません。\r%s ドライブに %i バイトの空き容量が必要です", "D:", -5);
  FMT("copyfail", "SETUP.INI : \"%s\" のコピーに失敗しました", "MOVIE");
  FMT("registry", "Software\\%s\\%s", "Maker", "Title");
  for (int n : {0, 5, 9, 10, 15, 16, 99, 100, -1}) {
    char label[32];
    snprintf(label, sizeof(label), "update%d", n);
    FMT(label, "UpdateFile%02i", n);
    snprintf(label, sizeof(label), "copy%d", n);
    FMT(label, "CopyFile%02i", n);
  }
  for (int n : {0, 1, 2, 9, 10}) {
    char label[32];
    snprintf(label, sizeof(label), "files%d", n);
    FMT(label, "InstallFiles%i", n);
  }
  for (int n : {0, 1, -1, 42, -42, 2147483647, (int)0x80000000}) {
    char label[32];
    snprintf(label, sizeof(label), "i%d", n);
    FMT(label, "%i", n);
    snprintf(label, sizeof(label), "d%d", n);
    FMT(label, "%d", n);
    snprintf(label, sizeof(label), "u%d", n);
    FMT(label, "%u", n);
    snprintf(label, sizeof(label), "x%d", n);
    FMT(label, "%x|%X|%08x", n, n, n);
  }
  FMT("width", "[%5s][%-5s][%.2s][%5i][%-5i][%05i]", "ab", "ab", "abc", 42, 42, 42);
  FMT("char", "%c%c%%", 'A', 0x5C);
  std::string big(2000, 'y');
  FMT("over1024", "%s", big.c_str());
  std::string exact(1023, 'z');
  FMT("exact1023", "%s", exact.c_str());
  std::string jpbig;
  for (int i = 0; i < 600; i++) jpbig += "\x82\xa0";
  FMT("over1024-dbcs", "%s", jpbig.c_str());
#undef FMT
}

}  // namespace

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
#ifdef _WIN32
  // Plain LF line ends, as on the host, so the outputs compare byte for byte.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  MakeWorkFolder();
  ProfileCorpus();
  CompareCorpus();
  CodePageCorpus();
  EntryNameClasses();
  EntryNamePairs();
  FormatCorpus();
  RemoveWorkFolder();
  fflush(stdout);
  return 0;
}
