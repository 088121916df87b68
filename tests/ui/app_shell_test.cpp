#include "ui/app_shell.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "net/net_node.h"
#include "node_access.h"
#include "recording_surface.h"
#include "transport/socket_address.h"
#include "ui/line_editor.h"
#include "ui/virtual_key.h"

namespace tw {
namespace {

constexpr int KEY_A = 65;
constexpr int KEY_F = 70;
constexpr int KEY_H = 72;
constexpr int KEY_I = 73;
constexpr int KEY_X = 88;
constexpr int KEY_1 = 49;
constexpr int ENTER = 13;
constexpr int ESCAPE = 27;
constexpr Rgb RED{255, 0, 0};

KeyEvent key_down(int vk, bool shift = false, bool alt = false) {
    return KeyEvent{vk, true, shift, alt};
}
KeyEvent key_up(int vk) {
    return KeyEvent{vk, false, false, false};
}

// A window that plays a script of events, one per wait, as a user between frames would.
// When the script runs out the window is closed, so that every run ends by itself.
class ScriptedWindow final : public WindowSystem {
  public:
    explicit ScriptedWindow(std::deque<WindowEvent> events) : script(std::move(events)) {}

    TextSurface& begin_frame() override {
        surface.clear();
        ++frames_begun;
        return surface;
    }
    int client_width() const override { return 250; }
    TextSurface& row_measure() override { return surface; }
    void end_frame() override { ++frames_ended; }
    bool needs_redraw() override { return std::exchange(exposed, false); }
    std::optional<WindowEvent> next_event() override {
        if (!event_ready) {
            return std::nullopt;
        }
        event_ready = false;
        if (script.empty()) {
            ++closes_after_script;
            return CloseEvent{};
        }
        WindowEvent event = script.front();
        script.pop_front();
        return event;
    }
    void wait(std::intptr_t socket, int timeout_ms) override {
        waits.emplace_back(socket, timeout_ms);
        event_ready = true;
    }
    void release() override { ++releases; }
    bool wants_menu_strip() const override { return !native_menu; }
    bool enters_whole_lines() const override { return whole_lines; }
    void ask_attention() override { ++attention_asked; }
    void set_title(const std::string& utf8) override { titles.push_back(utf8); }

    test::RecordingSurface surface;
    bool native_menu = false;
    bool whole_lines = false;
    bool exposed = false;
    std::deque<WindowEvent> script;
    std::vector<std::pair<std::intptr_t, int>> waits;
    bool event_ready = false;
    int frames_begun = 0;
    int frames_ended = 0;
    int releases = 0;
    int closes_after_script = 0;
    int attention_asked = 0;
    std::vector<std::string> titles;
};

class AppShellTest : public ::testing::Test {
  protected:
    void SetUp() override { net_startup(objects.net_node); }

    // Makes the node a server, on a port of a loopback address that no one else uses.
    void serve() {
        objects.net_node.set_local_ip(ipv4(127, 0, 0, 1));
        ASSERT_FALSE(objects.net_node.serve(0).has_value());
    }

    // Adds a peer whose datagrams are captured instead of sent.
    void add_captured_peer() {
        Peer peer;
        peer.address_text = "127.0.0.2";
        peer.address = SocketAddress{ipv4(127, 0, 0, 2), 40000};
        test::NodeAccess::peers(objects.net_node).add(peer);
        objects.net_node.set_transmitter(
            [this](std::span<const std::uint8_t> datagram, std::optional<SocketAddress>) {
                if (const auto message = NetMessage::decode(datagram)) {
                    sent.push_back(*message);
                }
                return true;
            });
    }

    bool sent_kind(std::int32_t kind, const std::string& text) const {
        for (const NetMessage& message : sent) {
            if (message.kind == kind && read_text(message) == text) {
                return true;
            }
        }
        return false;
    }

    int run(std::deque<WindowEvent> events) {
        window.script = std::move(events);
        AppShell shell{window, objects};
        return shell.run();
    }

    AppObjects objects;
    ScriptedWindow window{{}};
    std::vector<NetMessage> sent;
};

TEST_F(AppShellTest, AFrameDrawsTheRedPromptUnderTheMenuStrip) {
    AppShell shell{window, objects};
    shell.run_frame();
    EXPECT_EQ(window.frames_begun, 1);
    EXPECT_EQ(window.frames_ended, 1);
    ASSERT_FALSE(window.surface.texts.empty());
    EXPECT_EQ(window.surface.texts[0], (test::DrawnText{15, 15 + MENU_STRIP_HEIGHT, RED, "> "}));
    bool file_title = false;
    for (const auto& text : window.surface.texts) {
        file_title = file_title || (text.text == "File" && text.y < MENU_STRIP_HEIGHT);
    }
    EXPECT_TRUE(file_title);
}

TEST_F(AppShellTest, AWindowWithItsOwnMenuGetsTheConsoleAtTheTopAndAllKeys) {
    window.native_menu = true;
    AppShell shell{window, objects};
    EXPECT_TRUE(shell.handle_event(key_down(KEY_F, false, true)));
    EXPECT_TRUE(shell.handle_event(key_down(KEY_X)));
    shell.run_frame();
    ASSERT_EQ(window.surface.texts.size(), 1U) << "no strip is drawn";
    EXPECT_EQ(window.surface.texts[0], (test::DrawnText{15, 15, RED, "> fx"}));
}

TEST_F(AppShellTest, FramesDrawOnlyWhenTheViewChangedOrTheWindowWasExposed) {
    AppShell shell{window, objects};
    shell.run_frame();
    shell.run_frame();
    shell.run_frame();
    EXPECT_EQ(window.frames_ended, 1) << "nothing changed after the first frame";
    objects.chat_log.add_line("Server Started", LineStyle::notice);
    shell.run_frame();
    EXPECT_EQ(window.frames_ended, 2) << "a new log line";
    window.exposed = true;
    shell.run_frame();
    shell.run_frame();
    EXPECT_EQ(window.frames_ended, 3) << "an expose";
    EXPECT_TRUE(shell.handle_event(key_down(KEY_A)));
    shell.run_frame();
    EXPECT_EQ(window.frames_ended, 4) << "a key";
    EXPECT_EQ(window.frames_begun, window.frames_ended);
}

TEST_F(AppShellTest, TheFirstFrameStartsTheFrameTimer) {
    AppShell shell{window, objects};
    ASSERT_FALSE(objects.frame_timer.is_running());
    shell.run_frame();
    EXPECT_TRUE(objects.frame_timer.is_running());
}

TEST_F(AppShellTest, TypedKeysReachTheInputLineAndTheNextFrameShowsThem) {
    AppShell shell{window, objects};
    for (const KeyEvent& key :
         {key_down(KEY_H, true), key_up(KEY_H), key_down(KEY_I), key_down(KEY_1, true)}) {
        EXPECT_TRUE(shell.handle_event(key));
    }
    EXPECT_EQ(objects.input_line, "Hi!");
    shell.run_frame();
    EXPECT_EQ(window.surface.texts[0].text, "> Hi!");
}

TEST_F(AppShellTest, EnterRunsTheLineThroughTheInterpreter) {
    AppShell shell{window, objects};
    serve();
    objects.input_line = "hello";
    EXPECT_TRUE(shell.handle_event(key_down(ENTER)));
    EXPECT_EQ(objects.input_line, "");
    ASSERT_EQ(objects.chat_log.size(), 1U);
    EXPECT_EQ(objects.chat_log.line(0).style, LineStyle::own_chat);
    EXPECT_EQ(objects.chat_log.line(0).text, " <> hello");
}

TEST_F(AppShellTest, APipedLineLongerThanAChatLineIsRefusedWholeAsBefore) {
    window.whole_lines = true;
    AppShell shell{window, objects};
    serve();
    for (std::size_t typed = 0; typed <= LINE_ROOM; ++typed) {
        EXPECT_TRUE(shell.handle_event(key_down(KEY_A)));
    }
    EXPECT_TRUE(shell.handle_event(key_down(ENTER)));
    ASSERT_EQ(objects.chat_log.size(), 1U);
    EXPECT_EQ(objects.chat_log.line(0).text, "Line too long: 32768 characters at most");
}

TEST_F(AppShellTest, CharactersOutsideLatin1AreToldOncePerLineAndWindowNoticesLogged) {
    AppShell shell{window, objects};
    for (const WindowEvent& event :
         std::vector<WindowEvent>{TextEvent{"a", 1}, TextEvent{"b", 2}, key_down(ENTER),
                                  TextEvent{"", 1}, NoticeEvent{"Pasted 65536 of 2097152 bytes"}}) {
        EXPECT_TRUE(shell.handle_event(event));
    }
    std::vector<std::string> texts;
    for (std::size_t position = 0; position < objects.chat_log.size(); ++position) {
        texts.push_back(objects.chat_log.line(position).text);
    }
    const std::string told{LEFT_OUT_NOTICE};
    // The line "ab" went to the interpreter, which had no server to send it to.
    EXPECT_EQ(texts, (std::vector<std::string>{told, "Not sent: not connected", told,
                                               "Pasted 65536 of 2097152 bytes"}));
}

TEST_F(AppShellTest, APasteOfManyLinesWaitsForEnterAndEscapeDropsIt) {
    AppShell shell{window, objects};
    serve();
    add_captured_peer();
    const std::string long_line = std::string(LINE_ROOM, 'w') + " tail";
    for (const WindowEvent& event : std::vector<WindowEvent>{
             TextEvent{"one\ntwo\nthree\n"}, key_down(KEY_A), key_down(ESCAPE), TextEvent{"typed"},
             TextEvent{"x\ny"}, TextEvent{long_line}, TextEvent{"z"}}) {
        EXPECT_TRUE(shell.handle_event(event));
        shell.run_frame();
    }
    EXPECT_TRUE(sent.empty()) << "nothing goes out before Enter";
    EXPECT_TRUE(shell.handle_event(key_down(ENTER)));
    shell.run_frame();
    shell.run_frame();
    std::vector<std::string> texts;
    for (std::size_t position = 0; position < objects.chat_log.size(); ++position) {
        texts.push_back(objects.chat_log.line(position).text);
    }
    // A key other than the answers waits; the prompt keeps what was typed meanwhile.
    EXPECT_EQ(texts, (std::vector<std::string>{"Dropped 3 pasted lines",
                                               "Paste 2 lines? Enter sends them, Escape drops them",
                                               PASTE_BUSY_NOTICE.data(), " <> x", " <> y"}));
    EXPECT_EQ(objects.input_line, "typed");
    EXPECT_TRUE(sent_kind(KIND_CHAT, "x"));
    EXPECT_TRUE(sent_kind(KIND_CHAT, "y"));
    // A line too long for the prompt is asked about too, in lines that can be sent, cut
    // before a blank so that the rest cannot read as a command.
    EXPECT_TRUE(shell.handle_event(TextEvent{long_line}));
    EXPECT_EQ(objects.chat_log.line(4).text, "Paste 2 lines? Enter sends them, Escape drops them");
    EXPECT_TRUE(shell.handle_event(key_down(ENTER)));
    EXPECT_EQ(objects.chat_log.line(4).text, " <>  tail");
    // Lines that would find no room to wait for acknowledgement wait for it, not refused;
    // Escape lets them go.
    while (objects.net_node.reliable_room() > 0) {
        objects.net_node.broadcast_chat("filler", true);
    }
    EXPECT_TRUE(shell.handle_event(TextEvent{"p\nq"}));
    EXPECT_TRUE(shell.handle_event(key_down(ENTER)));
    shell.run_frame();
    EXPECT_EQ(objects.chat_log.line(4).text, "Paste 2 lines? Enter sends them, Escape drops them");
    EXPECT_TRUE(shell.handle_event(key_down(ESCAPE)));
    EXPECT_EQ(objects.chat_log.line(4).text, "Dropped 2 pasted lines");
}

TEST_F(AppShellTest, TheTitleSaysWhoAndWhereAndFollowsThem) {
    AppShell shell{window, objects};
    shell.run_frame();
    objects.nick =
        "b\xf6"
        "b";
    objects.net_node.connect_to("127.0.0.5", objects.port);
    shell.run_frame();
    shell.run_frame();
    serve();
    shell.run_frame();
    EXPECT_EQ(window.titles,
              (std::vector<std::string>{"Tamblewick",
                                        "b\xc3\xb6"
                                        "b \xe2\x80\x94 127.0.0.5 \xe2\x80\x94 Tamblewick",
                                        "b\xc3\xb6"
                                        "b (serving) \xe2\x80\x94 Tamblewick"}));
}

TEST_F(AppShellTest, OthersLinesAskForAttentionAndPageUpHoldsTheViewUntilTyping) {
    AppShell shell{window, objects};
    objects.chat_log.add_line(" <me> mine", LineStyle::own_chat);
    shell.run_frame();
    EXPECT_EQ(window.attention_asked, 0);
    for (int line = 0; line < 9; ++line) {
        objects.chat_log.add_line("<you> " + std::to_string(line), LineStyle::peer_chat);
    }
    shell.run_frame();
    shell.run_frame();
    EXPECT_EQ(window.attention_asked, 1) << "once for the frame that brought lines";
    EXPECT_TRUE(shell.handle_event(key_down(vk::page_up)));
    shell.run_frame();
    // A page of five keeps one row: the view's lowest row was fifth from the top.
    EXPECT_EQ(window.surface.texts[5].text, "<you> 4");
    EXPECT_TRUE(shell.handle_event(key_down(KEY_A)));
    shell.run_frame();
    EXPECT_EQ(window.surface.texts[5].text, "<you> 8");
}

TEST_F(AppShellTest, KeysHeldWithAltOrWhoseCharacterComesAsTextDoNotType) {
    AppShell shell{window, objects};
    EXPECT_TRUE(shell.handle_event(key_down(KEY_A, false, true)));
    EXPECT_TRUE(shell.handle_event(KeyEvent{KEY_A, true, false, false, true}));
    EXPECT_EQ(objects.input_line, "");
}

TEST_F(AppShellTest, KeysGoToTheOpenMenuInsteadOfTheLine) {
    AppShell shell{window, objects};
    EXPECT_TRUE(shell.handle_event(key_down(KEY_F, false, true)));
    EXPECT_TRUE(shell.handle_event(key_down(KEY_A)));
    EXPECT_TRUE(shell.handle_event(key_down(ESCAPE)));
    EXPECT_TRUE(shell.handle_event(key_down(KEY_A)));
    EXPECT_EQ(objects.input_line, "a");
}

TEST_F(AppShellTest, ExitChosenWithAltFThenXEndsTheRunWithCodeZero) {
    EXPECT_EQ(run({key_down(KEY_F, false, true), key_down(KEY_X)}), 0);
    EXPECT_EQ(window.closes_after_script, 0);
    EXPECT_EQ(window.releases, 1);
    EXPECT_FALSE(objects.net_node.endpoint().is_open());
}

TEST_F(AppShellTest, ExitChosenWithTheMouseEndsTheRun) {
    EXPECT_EQ(run({ClickEvent{10, 10}, ClickEvent{20, 30}}), 0);
    EXPECT_EQ(window.closes_after_script, 0);
    EXPECT_EQ(window.releases, 1);
}

TEST_F(AppShellTest, CloseBoxTakesTheSamePath) {
    EXPECT_EQ(run({CloseEvent{}}), 0);
    EXPECT_EQ(window.closes_after_script, 0);
    EXPECT_EQ(window.releases, 1);
    EXPECT_FALSE(objects.net_node.endpoint().is_open());
}

TEST_F(AppShellTest, EveryFrameIsCopiedAndEveryEventIsFollowedByAFrame) {
    EXPECT_EQ(run({key_down(KEY_A), key_down(KEY_A), ClickEvent{200, 200}, CloseEvent{}}), 0);
    EXPECT_EQ(window.frames_begun, window.frames_ended);
    EXPECT_EQ(window.frames_begun, 4);
    EXPECT_EQ(objects.input_line, "aa");
}

TEST_F(AppShellTest, ClosingSendsTheLogoutToEveryPeer) {
    add_captured_peer();
    objects.net_node.change_name("alice");
    EXPECT_EQ(run({CloseEvent{}}), 0);
    EXPECT_TRUE(sent_kind(KIND_LOGOUT, "alice"));
}

TEST_F(AppShellTest, TheWaitWatchesTheNodesSocket) {
    ASSERT_GE(objects.net_node.endpoint().handle(), 0);
    const SocketHandle socket = objects.net_node.endpoint().handle();
    run({CloseEvent{}});
    ASSERT_FALSE(window.waits.empty());
    EXPECT_EQ(window.waits[0].first, socket);
}

TEST_F(AppShellTest, WithoutPeersTheLoopWaitsForAnEventAlone) {
    run({key_down(KEY_A), CloseEvent{}});
    ASSERT_EQ(window.waits.size(), 2U);
    EXPECT_EQ(window.waits[0].second, WAIT_FOREVER);
    EXPECT_EQ(window.waits[1].second, WAIT_FOREVER);
}

TEST_F(AppShellTest, AMessageWaitingToGoOutMakesTheNextFrameComeAtOnce) {
    add_captured_peer();
    objects.net_node.broadcast_chat("hello", true);
    run({key_down(KEY_A), key_down(KEY_A), CloseEvent{}});
    ASSERT_GE(window.waits.size(), 2U);
    // The first pass moves the queued line into the outbox; the second sends it, after
    // which nothing is due before the resend interval.
    EXPECT_EQ(window.waits[0].second, 0);
    EXPECT_GT(window.waits[1].second, 1000);
    EXPECT_LE(window.waits[1].second, 2000);
    EXPECT_TRUE(sent_kind(KIND_CHAT, "hello"));
}

class FrameWaitTest : public ::testing::Test {};

TEST_F(FrameWaitTest, NothingDueWaitsForever) {
    EXPECT_EQ(frame_wait_ms(std::nullopt), WAIT_FOREVER);
}

TEST_F(FrameWaitTest, SomethingDueNowOrOverdueDoesNotWait) {
    EXPECT_EQ(frame_wait_ms(0.0F), 0);
    EXPECT_EQ(frame_wait_ms(-0.5F), 0);
}

TEST_F(FrameWaitTest, ADeadlineIsNeverCutShortToTheMillisecond) {
    EXPECT_EQ(frame_wait_ms(0.0004F), 1);
    EXPECT_EQ(frame_wait_ms(0.020F), 20);
    EXPECT_EQ(frame_wait_ms(0.0201F), 21);
    EXPECT_EQ(frame_wait_ms(0.099F), 99);
}

TEST_F(FrameWaitTest, FarDeadlinesAreWaitedForWithoutACap) {
    EXPECT_EQ(frame_wait_ms(2.0F), 2000);
    EXPECT_EQ(frame_wait_ms(30.0F), 30000);
    // Beyond a day the wait comes back and is taken up again; it never overflows.
    EXPECT_EQ(frame_wait_ms(1.0e30F), 86'400'000);
    EXPECT_EQ(frame_wait_ms(std::numeric_limits<float>::infinity()), 86'400'000);
}

}  // namespace
}  // namespace tw
