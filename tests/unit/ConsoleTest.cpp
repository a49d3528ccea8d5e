#include <gtest/gtest.h>

#include <deque>
#include <numeric>

#include "Common/Text.h"
#include "Installer/Console.h"
#include "Platform/Console.h"
#include "Platform/Text.h"

namespace quillet {
namespace {

using platform::ChannelKind;
using platform::ReadOutcome;

// A channel that records each write call and plays back a script of reads.
struct FakeChannel : platform::ConsoleChannel {
  struct Step {
    ReadOutcome outcome;
    std::string bytes;
  };

  ChannelKind kind = ChannelKind::Stream;
  std::vector<std::string>* writes = nullptr;
  std::deque<Step> reads;
  int* readCalls = nullptr;
  bool failWrites = false;

  ChannelKind Kind() const override { return kind; }
  ReadOutcome Read(char* buffer, std::size_t capacity, std::size_t& got) override {
    if (readCalls != nullptr) {
      ++*readCalls;
    }
    got = 0;
    if (reads.empty()) {
      return ReadOutcome::End;
    }
    Step& step = reads.front();
    if (step.outcome != ReadOutcome::Data) {
      const ReadOutcome outcome = step.outcome;
      reads.pop_front();
      return outcome;
    }
    got = std::min(capacity, step.bytes.size());
    step.bytes.copy(buffer, got);
    step.bytes.erase(0, got);
    if (step.bytes.empty()) {
      reads.pop_front();
    }
    return ReadOutcome::Data;
  }
  std::size_t Write(const char* data, std::size_t size) override {
    if (failWrites) {
      return 0;
    }
    writes->emplace_back(data, size);
    return size;
  }
};

// Input delivered in one piece per element, each element one fetch.
Console MakeInputConsole(std::vector<FakeChannel::Step> script, bool loneLf,
                         std::vector<std::string>* writes, int* readCalls = nullptr) {
  auto in = [script = std::move(script), readCalls]() {
    auto channel = std::make_unique<FakeChannel>();
    channel->reads.assign(script.begin(), script.end());
    channel->readCalls = readCalls;
    return std::unique_ptr<platform::ConsoleChannel>(std::move(channel));
  };
  auto out = [writes]() {
    auto channel = std::make_unique<FakeChannel>();
    channel->writes = writes;
    return std::unique_ptr<platform::ConsoleChannel>(std::move(channel));
  };
  return Console(in, out, loneLf);
}

std::vector<std::string> ReadAll(Console& console, int count) {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    lines.push_back(console.ReadLine());
  }
  return lines;
}

struct ReadCase {
  const char* name;
  std::string input;
  bool loneLf;
  std::vector<std::string> lines; // the first ReadLine results, in order
};

class ReadLineTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadLineTest, SplitsLines) {
  const ReadCase& c = GetParam();
  std::vector<std::string> writes;
  std::vector<FakeChannel::Step> script;
  if (!c.input.empty()) {
    script.push_back({ReadOutcome::Data, c.input});
  }
  Console console = MakeInputConsole(script, c.loneLf, &writes);
  EXPECT_EQ(ReadAll(console, static_cast<int>(c.lines.size())), c.lines);
}

const std::string kLong(1000, 'x');
const std::string kLongest(MAX_LINE_LENGTH, 'p');

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadLineTest,
    ::testing::Values(
        ReadCase{"CrLf", "C:\\Tools\r\nnext\r\n", false, {"C:\\Tools", "next", ""}},
        ReadCase{"LoneCr", "a\rb\rc", false, {"a", "b", "c", ""}},
        ReadCase{"EmptyLine", "\r\n\r\nx\r\n", false, {"", "", "x"}},
        ReadCase{"LoneLfIsOrdinaryOnWindows", "N\nN\n", false, {"N\nN\n", ""}},
        ReadCase{"LoneLfEndsLineOnPosix", "N\nN\n", true, {"N", "N", ""}},
        ReadCase{"CrLfIsOneEndOnPosix", "a\r\nb\n", true, {"a", "b", ""}},
        ReadCase{"LfCrIsTwoEndsOnPosix", "a\n\rb", true, {"a", "", "b"}},
        ReadCase{"LastLineWithoutEnd", "abc", false, {"abc", "", ""}},
        ReadCase{"EndOfFileByteStopsForGood",
                 std::string("ab\x1A"
                             "cd\r\nef\r\n"),
                 false,
                 {"ab", "", ""}},
        ReadCase{"NulIsPartOfLine", std::string("a\0b\r\n", 5), false, {std::string("a\0b", 3)}},
        ReadCase{"ThousandBytes", kLong + "\r\n" + kLong, false, {kLong, kLong, ""}},
        ReadCase{"ZeroBytes", "", false, {"", "", ""}},
        ReadCase{"LongestLineIsKept", kLongest + "\r\nnext", false, {kLongest, "next"}},
        ReadCase{"OverlongLineIsCutAndItsRestDropped",
                 kLongest + "REST" + std::string(100000, 'r') + "\r\nnext\r\n",
                 false,
                 {kLongest, "next", ""}},
        ReadCase{
            "OverlongLineWithoutEnd", kLongest + std::string(5000, 'r'), true, {kLongest, ""}}),
    [](const auto& info) { return info.param.name; });

TEST(Console, EndedInputStaysEndedWithoutFetching) {
  std::vector<std::string> writes;
  int readCalls = 0;
  Console console = MakeInputConsole(
      {{ReadOutcome::Data, "x"}, {ReadOutcome::End, ""}, {ReadOutcome::Data, "late\r\n"}}, false,
      &writes, &readCalls);
  EXPECT_EQ(console.ReadLine(), "x");
  const int callsAtEnd = readCalls;
  EXPECT_EQ(console.ReadLine(), "");
  EXPECT_EQ(console.ReadLine(), "");
  EXPECT_EQ(readCalls, callsAtEnd); // no further fetch once the input has ended
}

TEST(Console, BrokenPipeEndsInput) {
  std::vector<std::string> writes;
  Console console = MakeInputConsole(
      {{ReadOutcome::Data, "a"}, {ReadOutcome::BrokenPipe, ""}, {ReadOutcome::Data, "b\r\n"}},
      false, &writes);
  EXPECT_EQ(ReadAll(console, 3), (std::vector<std::string>{"a", "", ""}));
}

TEST(Console, FailedFetchEndsOnlyTheCurrentLine) {
  std::vector<std::string> writes;
  Console console = MakeInputConsole(
      {{ReadOutcome::Data, "a"}, {ReadOutcome::Failed, ""}, {ReadOutcome::Data, "b\r\n"}}, false,
      &writes);
  EXPECT_EQ(ReadAll(console, 3), (std::vector<std::string>{"a", "b", ""}));
}

TEST(Console, LinesSpanningManyFetches) {
  std::vector<std::string> writes;
  Console console = MakeInputConsole(
      {{ReadOutcome::Data, "ab"}, {ReadOutcome::Data, "c\r"}, {ReadOutcome::Data, "\nd"}}, false,
      &writes);
  EXPECT_EQ(ReadAll(console, 3), (std::vector<std::string>{"abc", "d", ""}));
}

TEST(Console, UnopenableInputReadsEmptyAndRetries) {
  int opens = 0;
  std::vector<std::string> writes;
  Console console(
      [&opens]() -> std::unique_ptr<platform::ConsoleChannel> {
        ++opens;
        return nullptr;
      },
      [&writes]() -> std::unique_ptr<platform::ConsoleChannel> {
        auto channel = std::make_unique<FakeChannel>();
        channel->writes = &writes;
        return channel;
      },
      false);
  EXPECT_EQ(console.ReadLine(), "");
  EXPECT_EQ(console.ReadLine(), "");
  EXPECT_EQ(opens, 2);
}

// Output buffering, by kind of handle.
struct WriteHarness {
  std::vector<std::string> writes;
  Console console;
  explicit WriteHarness(ChannelKind kind, std::string input = "")
      : console(
            [input]() -> std::unique_ptr<platform::ConsoleChannel> {
              auto channel = std::make_unique<FakeChannel>();
              channel->reads.push_back({ReadOutcome::Data, input});
              return channel;
            },
            [this, kind]() -> std::unique_ptr<platform::ConsoleChannel> {
              auto channel = std::make_unique<FakeChannel>();
              channel->kind = kind;
              channel->writes = &writes;
              return channel;
            },
            false) {}
};

TEST(Console, ConsoleHandleWritesAtTheEndOfEveryOperation) {
  WriteHarness h(ChannelKind::Console);
  h.console.WriteText("Installing a.pas .. ");
  EXPECT_EQ(h.writes, (std::vector<std::string>{"Installing a.pas .. "}));
  h.console.WriteLine("OK");
  EXPECT_EQ(h.writes, (std::vector<std::string>{"Installing a.pas .. ", "OK\r\n"}));
}

TEST(Console, StreamHandleWritesFullBlocksAndTheRestAtFlush) {
  WriteHarness h(ChannelKind::Stream);
  const std::string text(300, 'a');
  h.console.WriteLine(text);
  ASSERT_EQ(h.writes.size(), 2u);
  EXPECT_EQ(h.writes[0].size(), CONSOLE_BUFFER_SIZE);
  EXPECT_EQ(h.writes[1].size(), CONSOLE_BUFFER_SIZE);
  h.console.Flush();
  ASSERT_EQ(h.writes.size(), 3u);
  EXPECT_EQ(h.writes[2], std::string(300 - 256, 'a') + "\r\n");
}

TEST(Console, CrLfStraddlingABlockBoundary) {
  WriteHarness h(ChannelKind::Stream);
  h.console.WriteLine(std::string(127, 'b'));
  ASSERT_EQ(h.writes.size(), 1u);
  EXPECT_EQ(h.writes[0], std::string(127, 'b') + "\r");
  h.console.Flush();
  EXPECT_EQ(h.writes.back(), "\n");
}

TEST(Console, QuestionIsWrittenOutBeforeWaitingForTheAnswer) {
  WriteHarness h(ChannelKind::Stream, "answer\r\n");
  h.console.WriteLine("Question?");
  EXPECT_TRUE(h.writes.empty()); // a pipe gathers text in blocks...
  EXPECT_EQ(h.console.ReadLine(), "answer");
  EXPECT_EQ(h.writes, (std::vector<std::string>{"Question?\r\n"})); // ...but not while waiting
}

TEST(Console, DestructionWritesWhatRemains) {
  std::vector<std::string> writes;
  {
    Console console([] { return nullptr; },
                    [&writes]() -> std::unique_ptr<platform::ConsoleChannel> {
                      auto channel = std::make_unique<FakeChannel>();
                      channel->writes = &writes;
                      return channel;
                    },
                    false);
    console.WriteText("tail");
  }
  EXPECT_EQ(writes, (std::vector<std::string>{"tail"}));
}

TEST(Console, UnopenableOutputDropsTextAndRetriesEachWrite) {
  int opens = 0;
  Console console([] { return nullptr; },
                  [&opens]() -> std::unique_ptr<platform::ConsoleChannel> {
                    ++opens;
                    return nullptr;
                  },
                  false);
  console.WriteLine("lost");
  console.WriteText("lost too");
  console.Flush();
  EXPECT_EQ(opens, 2);
}

// Control characters of outside texts as shown: "?", except a text's own line ends and tabs.
TEST(ShownText, KeepsOnlyWhatCannotDriveTheTerminal) {
  const struct {
    std::string text;
    TextShape shape;
    bool utf8;
    std::string shown;
  } cases[] = {
      {"a\tb\r\nc\nd", TextShape::Lines, false, "a\tb\r\nc\nd"},
      {"a\tb\r\nc\nd", TextShape::Line, false, "a?b??c?d"},
      {"over\rwrite", TextShape::Lines, false, "over?write"}, // a lone CR is no line end
      {"x\x1B[31my\x7F\x01", TextShape::Lines, true, "x?[31my??"},
      {"\xC2\x9B"
       "2J \xC3\xA9\x9B",
       TextShape::Line, true, "?2J \xC3\xA9?"}, // C1, stray byte
      {"\xC2\xA0\xC5\x81\xC3\xB3", TextShape::Line, true,
       "\xC2\xA0\xC5\x81\xC3\xB3"},                                     // "\u00A0\u0141\u00F3"
      {"\x80\x9B\x95\x5C", TextShape::Line, false, "\x80\x9B\x95\x5C"}, // code page bytes
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ShownText(c.text, c.shape, c.utf8), c.shown) << c.text;
  }
}

TEST(Console, WritesNoControlCharacterButItsOwnLineEnds) {
  WriteHarness h(ChannelKind::Console);
  h.console.WriteText("Installing a\r\nb\xC2\x9B .. ");
  h.console.WriteLine("OK\x1B]0;x\x07");
  h.console.WriteLine("Welcome\r\n\tto x\x1B[2J\r\n");
  EXPECT_EQ(std::accumulate(h.writes.begin(), h.writes.end(), std::string()),
            "Installing a??b? .. OK?]0;x?\r\nWelcome\r\n\tto x?[2J\r\n\r\n");
}

// What an interrupt makes of the output: the text held back is written and an open line ended.
struct FinishCase {
  const char* name;
  ChannelKind kind;
  std::string line;   // written with WriteLine (unless empty)
  std::string text;   // then written with WriteText
  std::string output; // everything written, in order
};

class FinishForInterruptTest : public ::testing::TestWithParam<FinishCase> {};

TEST_P(FinishForInterruptTest, WritesWhatIsHeldAndEndsTheLine) {
  const FinishCase& c = GetParam();
  WriteHarness h(c.kind);
  if (!c.line.empty()) {
    h.console.WriteLine(c.line);
  }
  h.console.WriteText(c.text);
  h.console.FinishForInterrupt();
  EXPECT_EQ(std::accumulate(h.writes.begin(), h.writes.end(), std::string()), c.output);
}

const std::string kWide(200, 'w');

INSTANTIATE_TEST_SUITE_P(
    Cases, FinishForInterruptTest,
    ::testing::Values(
        FinishCase{"OpenLineOnAPipe", ChannelKind::Stream, "Question", "Installing a .. ",
                   "Question\r\nInstalling a .. \r\n"},
        FinishCase{"EndedLineOnAPipe", ChannelKind::Stream, "Question", "", "Question\r\n"},
        FinishCase{"LongOpenLineOnAPipe", ChannelKind::Stream, "", kWide, kWide + "\r\n"},
        FinishCase{"OpenLineOnAConsole", ChannelKind::Console, "", "Installing a .. ",
                   "Installing a .. \r\n"},
        // The echoed ^C, and any answer typed so far, stand on a console's line.
        FinishCase{"EndedLineOnAConsole", ChannelKind::Console, "Question", "", "Question\r\n\r\n"},
        FinishCase{"NothingWritten", ChannelKind::Stream, "", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillet
