// ProfileStream: a profile read once as a stream gives, for every key it
// keeps, what the profile reader gives over the whole file, however the
// bytes arrive; and it keeps no more than its bounds whatever the file holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/profile_rules.h"

namespace {

struct Case {
  const char* name;
  std::string file;
};

const std::vector<std::string> kKeys{"A", "B", "Key", "Long", "Q"};

// Profiles that lean on one rule each; every wanted key is asked of each.
const Case kCases[] = {
    {"crlf", "[S]\r\nA=1\r\nB=two\r\n"},
    {"lf and cr alone", "[S]\nA=1\rB=2"},
    {"blanks around names and values", "  [ S ]  \r\n\t A \t=\t x y \t\r\n"},
    {"first section of a name wins", "[S]\r\nA=first\r\n[T]\r\nA=other\r\n[s]\r\nA=second\r\nB=later\r\n"},
    {"first key of a name wins, valueless too", "[S]\r\nA\r\nA=late\r\nkey=1\r\nKEY=2\r\n"},
    {"quotes", "[S]\r\nA=\"quoted\"\r\nB='x'\r\nKey=\"open\r\nQ=\"\"\r\n"},
    {"byte order mark", "\xEF\xBB\xBF[S]\r\nA=1\r\n"},
    {"a byte order mark later is text", "[S]\r\n\xEF\xBB\xBF" "A=1\r\nA=2\r\n"},
    {"half a byte order mark", "\xEF\xBB"},
    {"lead byte takes a line end", "[S]\r\nA=\x82\nB=1\r\nB=2\r\n"},
    {"lead byte at the very end", "[S]\r\nA=x\x82"},
    {"nul ends a value", std::string("[S]\r\nA=ab\0cd\r\n", 14)},
    {"trail byte that looks like a bracket", "[S\x83]]\r\nA=1\r\n[S]\r\nA=2\r\n"},
    {"section without a closing bracket", "[S]\r\nA=1\r\n[T\r\nB=2\r\n"},
    {"double-byte value cut at capacities", "[S]\r\nLong=" + std::string(300, 'x') + "\x82\xa0\x82\xa0" +
                                                std::string(800, 'y') + "\r\n"},
    {"quoted value longer than capacities", "[S]\r\nLong=\"" + std::string(2000, 'q') + "\"\r\n"},
    {"keys outside the wanted section", "A=0\r\n[T]\r\nA=1\r\n"},
};

const DWORD kCapacities[] = {1, 2, 3, 20, MAX_PATH, 1024};

ProfileStream Stream(const std::string& file, size_t chunk) {
  ProfileStream s;
  s.Want("S", kKeys);
  for (size_t at = 0; at < file.size(); at += chunk) s.Feed(file.data() + at, std::min(chunk, file.size() - at));
  s.Finish();
  return s;
}

TEST(ProfileStream, AnswersAsTheReaderOverTheWholeFileInAnyChunks) {
  for (const Case& c : kCases) {
    for (size_t chunk : {1, 2, 7, 4096}) {
      ProfileStream s = Stream(c.file, chunk);
      for (const std::string& key : kKeys) {
        for (DWORD capacity : kCapacities) {
          std::vector<char> want(capacity + 1, 'Z'), got(capacity + 1, 'Z');
          DWORD n = ProfileStringFromBytes(&c.file, "S", key.c_str(), "", want.data(), capacity);
          DWORD m = s.Get("S", key.c_str(), got.data(), capacity);
          SCOPED_TRACE(std::string(c.name) + ", key " + key + ", capacity " + std::to_string(capacity) + ", chunk " +
                       std::to_string(chunk));
          EXPECT_EQ(m, n);
          EXPECT_EQ(std::string(got.data(), m), std::string(want.data(), n));
          EXPECT_EQ(got[m], 0);
        }
        // The whole value's length, as a reader without a limit would get it.
        std::vector<char> big(65536);
        DWORD whole = ProfileStringFromBytes(&c.file, "S", key.c_str(), "", big.data(), (DWORD)big.size());
        size_t counted = 0;
        char probe[8];
        s.Get("S", key.c_str(), probe, sizeof(probe), &counted);
        EXPECT_EQ(counted, whole) << c.name << ", key " << key;
      }
    }
  }
}

TEST(ProfileStream, TellsAKeyWithoutValueFromAnAbsentOne) {
  ProfileStream s = Stream("[S]\r\nA\r\nB=\r\n", 4096);
  EXPECT_TRUE(s.HasLine("S", "A"));
  EXPECT_TRUE(s.HasLine("S", "b"));
  EXPECT_FALSE(s.HasLine("S", "Key"));
  EXPECT_FALSE(s.HasLine("T", "A"));
}

TEST(ProfileStream, KeepsBoundedLinesAndCountsTheLongerOnes) {
  // A line of a megabyte is read up to the bound; the key on it still reads,
  // cut as the reader cuts it, and the line is counted.
  std::string file = "[S]\r\nA=" + std::string(1 << 20, 'v') + "\r\nB=after\r\n";
  ProfileStream s = Stream(file, 65536);
  EXPECT_EQ(s.LongLines(), 1u);
  EXPECT_EQ(s.Bytes(), file.size());
  char out[1024];
  EXPECT_EQ(s.Get("S", "A", out, sizeof(out)), 1023u);
  EXPECT_EQ(std::string(out), std::string(1023, 'v'));
  EXPECT_EQ(s.Get("S", "B", out, sizeof(out)), 5u);
  EXPECT_STREQ(out, "after");
}

TEST(ProfileStream, KeepsOnlyWantedKeysHoweverManyTheFileHas) {
  // A hundred thousand keys that nobody asks for cost nothing to keep; the
  // one wanted key behind them reads as it is.
  std::string file = "[S]\r\n";
  for (int i = 0; i < 100000; i++) file += "Other" + std::to_string(i) + "=x\r\n";
  file += "Key=found\r\n";
  ProfileStream s = Stream(file, 65536);
  char out[16];
  EXPECT_EQ(s.Get("S", "Key", out, sizeof(out)), 5u);
  EXPECT_STREQ(out, "found");
  EXPECT_EQ(s.Get("S", "Other5", out, sizeof(out)), 0u);
  EXPECT_EQ(s.LongLines(), 0u);
}

}  // namespace
