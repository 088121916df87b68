#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/console_view.h"
#include "ui/key_input.h"
#include "ui/line_editor.h"
#include "ui/tty/key_decoder.h"
#include "ui/tty/line_window_system.h"
#include "ui/tty/screen_grid.h"
#include "ui/tty/terminal_colour.h"
#include "ui/tty/terminal_text.h"
#include "ui/virtual_key.h"

namespace tw {
namespace {

// Every byte that can steer a terminal: C0 controls, DEL, C1 controls (0x9B is CSI).
const std::string HOSTILE =
    "a\x1b[2J\x1b]0;owned\x07\r\b\x7f\x9b"
    "31m\x85z";

TEST(TerminalTextTest, ControlBytesBecomeQuestionMarksOneCellEach) {
    EXPECT_EQ(terminal_text(HOSTILE, TextEncoding::utf8), "a?[2J?]0;owned?????31m?z");
}

TEST(TerminalTextTest, LatinOneBytesAreConvertedForTheTerminal) {
    const std::string text = "caf\xe9 \xa0\xff";
    EXPECT_EQ(terminal_text(text, TextEncoding::utf8), "caf\xc3\xa9 \xc2\xa0\xc3\xbf");
    EXPECT_EQ(terminal_text(text, TextEncoding::latin1), text);
    EXPECT_EQ(terminal_text(text, TextEncoding::ascii), "caf? ??");
}

TEST(TerminalColourTest, EnvironmentChoosesTheColours) {
    EXPECT_EQ(colour_mode("1", "truecolor"), ColourMode::none);
    EXPECT_EQ(colour_mode("", "truecolor"), ColourMode::truecolor);
    EXPECT_EQ(colour_mode(nullptr, "24bit"), ColourMode::truecolor);
    EXPECT_EQ(colour_mode(nullptr, nullptr), ColourMode::xterm256);
    EXPECT_EQ(foreground_sequence(NOTICE_COLOUR, ColourMode::truecolor), "\x1b[38;2;100;100;55m");
    EXPECT_EQ(foreground_sequence(PROMPT_COLOUR, ColourMode::xterm256), "\x1b[38;5;196m");
    EXPECT_EQ(foreground_sequence(PROMPT_COLOUR, ColourMode::none), "");
}

TEST(TerminalColourTest, NearestXtermColourPrefersTheCloserOfCubeAndGrey) {
    EXPECT_EQ(nearest_xterm_colour(PEER_CHAT_COLOUR), 21);
    EXPECT_EQ(nearest_xterm_colour(OWN_CHAT_COLOUR), 45);
    EXPECT_EQ(nearest_xterm_colour(Rgb{128, 128, 128}), 244);
}

class KeyDecoderTest : public ::testing::Test {
  protected:
    // Feeds each chunk as one read and types the resulting keys into a line, as the
    // frame loop does; returns how many close requests came out.
    int type(const std::vector<std::string>& chunks) {
        int closes = 0;
        for (const std::string& chunk : chunks) {
            std::vector<WindowEvent> events;
            decoder.feed(chunk, events);
            for (const WindowEvent& event : events) {
                if (const auto* key = std::get_if<KeyEvent>(&event)) {
                    editor.key(*key, line, [this](std::string typed) {
                        entered.push_back(typed);
                        line.clear();
                    });
                } else if (const auto* text = std::get_if<TextEvent>(&event)) {
                    pasted.push_back(text->text);
                } else {
                    ++closes;
                }
            }
        }
        return closes;
    }

    KeyDecoder decoder;
    LineEditor editor;
    std::string line;
    std::vector<std::string> entered;
    std::vector<std::string> pasted;
};

TEST_F(KeyDecoderTest, EveryPrintableByteTypesExactlyItself) {
    for (int byte = 0x20; byte < 0x7f; ++byte) {
        line.clear();
        type({std::string(1, static_cast<char>(byte))});
        EXPECT_EQ(line, std::string(1, static_cast<char>(byte))) << "byte " << byte;
    }
}

TEST_F(KeyDecoderTest, EscapeSequencesAreConsumedWholeEvenAcrossReads) {
    type({"a\x1b[A\x1bOP\x1b[15~\x1b[1;5C", "b\x1b]0;title\x07\x1b]2;t\x1b\\",
          "c\x1b[200~d\r\ne\x1b[20", "1~", "\x1bx", "e\x1b[1;", "5Df"});
    EXPECT_EQ(line, "abcef");
    // A bracketed paste is one text, line breaks and all, never keys.
    EXPECT_EQ(pasted, std::vector<std::string>{"d\ne"});
}

TEST_F(KeyDecoderTest, CursorKeysCtrlLettersAndALoneEscapeEditTheLine) {
    type({"ab cd\x1b[D\x1b[D", "X\x1b[3~\x1bOF\x17"});
    EXPECT_EQ(line, "ab ");
    type({"\x1b", "z\x1b[H\x1b[1~y\r"});
    EXPECT_EQ(entered, std::vector<std::string>{"yz"});
}

TEST_F(KeyDecoderTest, EditingKeysAndCloseKeys) {
    type({"abc\x7f\x08x\r", "y\n"});
    EXPECT_EQ(entered, (std::vector<std::string>{"ax", "y"}));
    EXPECT_EQ(type({"\x03"}), 1);
    EXPECT_EQ(type({"\x04"}), 1);
    EXPECT_EQ(type({"\x01\x1a\x09\xe9"}), 0);
    EXPECT_EQ(line, "");
}

TEST_F(KeyDecoderTest, PageKeysAndFocusReportsAreReadFromTheirSequences) {
    std::vector<WindowEvent> events;
    decoder.feed("\x1b[5~\x1b[6~\x1b[15~\x1b[O", events);
    EXPECT_EQ(events, (std::vector<WindowEvent>{KeyEvent{vk::page_up, true, false, false},
                                                KeyEvent{vk::page_down, true, false, false}}));
    EXPECT_FALSE(decoder.terminal_focused());
    decoder.feed("\x1b[1;5I\x1b[I", events);
    EXPECT_TRUE(decoder.terminal_focused());
}

TEST(LineDecoderTest, LinesAreTypedAndEnteredAndALastOpenLineAtTheEnd) {
    LineDecoder decoder;
    std::vector<WindowEvent> events;
    decoder.feed("hi\x1b\t\r\nb", events);
    decoder.finish(events);
    std::string line;
    std::vector<std::string> entered;
    LineEditor editor;
    for (const WindowEvent& event : events) {
        editor.key(std::get<KeyEvent>(event), line, [&](std::string typed) {
            entered.push_back(typed);
            line.clear();
        });
    }
    EXPECT_EQ(entered, (std::vector<std::string>{"hi", "b"}));
}

TEST(LineOutputTest, PrintedLineIsTheWindowTextMadeSafe) {
    const LogLine notice{LineStyle::notice, "\x1b]0;x\x07 Logged In"};
    EXPECT_EQ(LineWindowSystem::printed_line(notice, ColourMode::none, TextEncoding::utf8),
              " -- ?]0;x? Logged In\n");
    const LogLine own{LineStyle::own_chat, " <a> hi"};
    EXPECT_EQ(LineWindowSystem::printed_line(own, ColourMode::xterm256, TextEncoding::utf8),
              "\x1b[38;5;45m <a> hi\x1b[0m\n");
}

class ScreenGridTest : public ::testing::Test {
  protected:
    ScreenGridTest() { grid.resize(24, 20); }

    void frame(const std::string& input_line) {
        grid.clear();
        grid.put_rows(console_rows(input_line, log));
    }

    ScreenGrid grid{ColourMode::xterm256, TextEncoding::utf8};
    ChatLog log;
};

TEST_F(ScreenGridTest, ConsoleRowsLandOnTerminalRowsInTheirColours) {
    log.add_line(" <me> hi", LineStyle::own_chat);
    log.add_line("Server Started", LineStyle::notice);
    log.add_line("<bo> yo", LineStyle::peer_chat);
    frame("ab");
    // The cursor, hidden while rows are written, waits after the typed text.
    EXPECT_EQ(grid.render(),
              "\x1b[?25l\x1b[0m\x1b[H\x1b[2J"
              "\x1b[1;1H\x1b[38;5;196m> ab\x1b[0m\x1b[K"
              "\x1b[2;1H\x1b[38;5;45m <me> hi\x1b[0m\x1b[K"
              "\x1b[3;1H\x1b[38;5;240m -- Server Started\x1b[0m\x1b[K"
              "\x1b[4;1H\x1b[38;5;21m<bo> yo\x1b[0m\x1b[K\x1b[1;5H\x1b[?25h");
}

TEST_F(ScreenGridTest, AnUnchangedFrameWritesNothingAndAChangeOnlyItsRow) {
    log.add_line("Server Started", LineStyle::notice);
    frame("a");
    grid.render();
    frame("a");
    EXPECT_EQ(grid.render(), "");
    frame("ab");
    EXPECT_EQ(grid.render(), "\x1b[?25l\x1b[1;1H\x1b[38;5;196m> ab\x1b[0m\x1b[K\x1b[1;5H\x1b[?25h");
    grid.resize(24, 30);
    frame("ab");
    EXPECT_NE(grid.render().find("Server Started"), std::string::npos);
}

TEST_F(ScreenGridTest, LongLinesGoOnInTheNextRowAndHostileTextIsHarmless) {
    log.add_line(HOSTILE + "0123456789", LineStyle::peer_chat);
    frame("");
    const std::string out = grid.render();
    // A full row leaves no rest to erase: erasing at the last column would take its
    // character away.
    const std::string rows =
        "\x1b[2;1H\x1b[38;5;21ma?[2J?]0;owned?????3\x1b[0m"
        "\x1b[3;1H\x1b[38;5;21m1m?z0123456789\x1b[0m\x1b[K\x1b[1;3H\x1b[?25h";
    EXPECT_TRUE(out.ends_with(rows)) << testing::PrintToString(out);
    EXPECT_EQ(out.find('\x07'), std::string::npos);
    EXPECT_EQ(out.find('\x9b'), std::string::npos);
}

TEST_F(ScreenGridTest, ALongPromptShowsItsEndAndAScrolledViewItsMark) {
    for (int line = 0; line < 30; ++line) {
        log.add_line("line " + std::to_string(line), LineStyle::peer_chat);
    }
    grid.resize(4, 10);
    grid.clear();
    grid.put_rows(
        console_rows("0123456789abc", log,
                     LogPage{.rows = 2, .lines_below = 5, .rows_below = 5, .new_lines = 1}));
    const std::string out = grid.render();
    // "> ", the mark, the end that leaves the last column to the cursor.
    EXPECT_NE(out.find("> \x1b[38;5;246m\xc2\xab\x1b[38;5;196m789abc"), std::string::npos) << out;
    EXPECT_NE(out.find("line 23"), std::string::npos);
    EXPECT_NE(out.find("line 24"), std::string::npos);
    EXPECT_NE(out.find("-- 5 rows"), std::string::npos);
    EXPECT_TRUE(out.ends_with("\x1b[1;10H\x1b[?25h")) << out;
}

}  // namespace
}  // namespace tw
