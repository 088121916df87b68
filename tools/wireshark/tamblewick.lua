-- Wireshark dissector for Tamblewick's datagrams: UDP port 1210, one 88-byte record per
-- datagram, every field little-endian.
--
--   tshark -X lua_script:tools/wireshark/tamblewick.lua -r capture.pcap -V
-- or copy this file into ~/.local/lib/wireshark/plugins/ to have it in every session.

local tamblewick = Proto("tamblewick", "Tamblewick chat")

local RECORD_SIZE = 88
local TEXT_OFFSET = 24
local TEXT_SIZE = 64
-- A relay carries the author's name in text bytes 0..13 and the line from byte 14 on.
local RELAY_LINE_OFFSET = 14

local KINDS = {
    [101] = "KIND_CHAT",
    [102] = "KIND_CHAT_RELAY",
    [103] = "KIND_LOGIN",
    [104] = "KIND_LOGIN_ACCEPTED",
    [105] = "KIND_PEER_LOGGED_IN",
    [107] = "KIND_ACK",
    [108] = "KIND_NICK_CHANGE",
    [109] = "KIND_NICK_NOTICE",
    [110] = "KIND_PING",
    [111] = "KIND_PONG",
    [112] = "KIND_LOGOUT",
    [113] = "KIND_PEER_LOGGED_OUT",
    [114] = "KIND_PEER_TIMED_OUT",
}

-- Kinds whose payload is one line or name of `length` characters.
local TEXT_KINDS = {
    [101] = true, [103] = true, [104] = true, [105] = true, [108] = true,
    [109] = true, [112] = true, [113] = true, [114] = true,
}
local KIND_CHAT_RELAY = 102
local KIND_ACK = 107
local KIND_PING = 110
local KIND_PONG = 111

local f = {
    id = ProtoField.int32("tamblewick.id", "Message id"),
    resend_timer = ProtoField.float("tamblewick.resend_timer", "Resend timer (s)"),
    reliable = ProtoField.uint8("tamblewick.reliable", "Reliable"),
    padding = ProtoField.bytes("tamblewick.padding", "Padding"),
    reserved = ProtoField.int32("tamblewick.reserved", "Reserved"),
    kind = ProtoField.int32("tamblewick.kind", "Kind", base.DEC, KINDS),
    length = ProtoField.int32("tamblewick.length", "Length"),
    text = ProtoField.string("tamblewick.text", "Text"),
    relay_name = ProtoField.string("tamblewick.relay_name", "Relay author"),
    relay_line = ProtoField.string("tamblewick.relay_line", "Relay line"),
    acked_id = ProtoField.int32("tamblewick.acked_id", "Acknowledged id"),
    clock = ProtoField.float("tamblewick.clock", "Pinger's clock (s)"),
}
tamblewick.fields = { f.id, f.resend_timer, f.reliable, f.padding, f.reserved, f.kind, f.length,
                      f.text, f.relay_name, f.relay_line, f.acked_id, f.clock }

local e = {
    short = ProtoExpert.new("tamblewick.short", "Datagram shorter than 88 bytes: receivers drop it",
                            expert.group.MALFORMED, expert.severity.ERROR),
    trailing = ProtoExpert.new("tamblewick.trailing", "Bytes after the 88-byte record: receivers ignore them",
                               expert.group.MALFORMED, expert.severity.WARN),
    unknown_kind = ProtoExpert.new("tamblewick.unknown_kind", "Kind outside the table of kinds",
                                   expert.group.MALFORMED, expert.severity.WARN),
    bad_length = ProtoExpert.new("tamblewick.bad_length", "Length negative or above 64",
                                 expert.group.MALFORMED, expert.severity.WARN),
    padding = ProtoExpert.new("tamblewick.padding_nonzero", "Padding bytes 9 to 11 are not zero",
                              expert.group.MALFORMED, expert.severity.WARN),
    relay_unterminated = ProtoExpert.new("tamblewick.relay_unterminated",
                                         "Relay slot without its terminating zero byte",
                                         expert.group.MALFORMED, expert.severity.WARN),
}
tamblewick.experts = { e.short, e.trailing, e.unknown_kind, e.bad_length, e.padding,
                       e.relay_unterminated }

-- Bytes up to the first zero within [offset, offset + size); second result: whether a zero
-- byte ended them.
local function zero_terminated(tvb, offset, size)
    local raw = tvb:raw(offset, size)
    local zero = raw:find("\0", 1, true)
    if zero then
        return raw:sub(1, zero - 1), true
    end
    return raw, false
end

-- Printable form for the Info column: bytes outside printable ASCII as \xNN.
local function printable(s)
    return (s:gsub("[^\32-\126]", function(c) return string.format("\\x%02x", c:byte()) end))
end

local function dissect_text(tvb, tree, length)
    local text = zero_terminated(tvb, TEXT_OFFSET, TEXT_SIZE)
    text = text:sub(1, math.max(length, 0))
    tree:add(f.text, tvb(TEXT_OFFSET, TEXT_SIZE), text)
    return printable(text)
end

local function dissect_relay(tvb, tree)
    local name_item_range = tvb(TEXT_OFFSET, RELAY_LINE_OFFSET)
    local line_size = TEXT_SIZE - RELAY_LINE_OFFSET
    local line_item_range = tvb(TEXT_OFFSET + RELAY_LINE_OFFSET, line_size)
    local name, name_ended = zero_terminated(tvb, TEXT_OFFSET, RELAY_LINE_OFFSET)
    local line, line_ended = zero_terminated(tvb, TEXT_OFFSET + RELAY_LINE_OFFSET, line_size)
    local name_item = tree:add(f.relay_name, name_item_range, name)
    local line_item = tree:add(f.relay_line, line_item_range, line)
    if not name_ended then
        name_item:add_proto_expert_info(e.relay_unterminated, "Relay author has no terminating zero byte")
    end
    if not line_ended then
        line_item:add_proto_expert_info(e.relay_unterminated, "Relay line has no terminating zero byte")
    end
    return "<" .. printable(name) .. "> " .. printable(line)
end

function tamblewick.dissector(tvb, pinfo, root)
    local size = tvb:captured_len()
    if size == 0 then
        return 0
    end
    pinfo.cols.protocol = "TAMBLEWICK"
    local tree = root:add(tamblewick, tvb(), "Tamblewick chat")

    if size < RECORD_SIZE then
        tree:add_proto_expert_info(e.short, string.format("Datagram of %d bytes, shorter than 88: receivers drop it", size))
        pinfo.cols.info = string.format("short datagram, %d bytes", size)
        return size
    end
    if size > RECORD_SIZE then
        tree:add_proto_expert_info(e.trailing, string.format("%d bytes after the record: receivers ignore them", size - RECORD_SIZE))
    end

    local id = tvb(0, 4):le_int()
    local kind = tvb(16, 4):le_int()
    local length = tvb(20, 4):le_int()

    tree:add_le(f.id, tvb(0, 4))
    tree:add_le(f.resend_timer, tvb(4, 4))
    tree:add(f.reliable, tvb(8, 1))
    local padding = tree:add(f.padding, tvb(9, 3))
    if tvb(9, 3):uint() ~= 0 then
        padding:add_proto_expert_info(e.padding)
    end
    tree:add_le(f.reserved, tvb(12, 4))
    local kind_item = tree:add_le(f.kind, tvb(16, 4))
    local length_item = tree:add_le(f.length, tvb(20, 4))
    if length < 0 or length > TEXT_SIZE then
        length_item:add_proto_expert_info(e.bad_length)
    end

    local info
    if KINDS[kind] then
        info = string.format("%s id=%d", KINDS[kind], id)
    else
        kind_item:add_proto_expert_info(e.unknown_kind)
        info = string.format("unknown kind %d id=%d", kind, id)
    end

    if TEXT_KINDS[kind] then
        info = info .. " " .. dissect_text(tvb, tree, length)
    elseif kind == KIND_CHAT_RELAY then
        info = info .. " " .. dissect_relay(tvb, tree)
    elseif kind == KIND_ACK then
        local acked = tvb(TEXT_OFFSET, 4):le_int()
        tree:add_le(f.acked_id, tvb(TEXT_OFFSET, 4))
        info = info .. string.format(" acked=%d", acked)
    elseif kind == KIND_PING or kind == KIND_PONG then
        local clock = tvb(TEXT_OFFSET, 4):le_float()
        tree:add_le(f.clock, tvb(TEXT_OFFSET, 4))
        info = info .. string.format(" clock=%.3f", clock)
    end
    pinfo.cols.info = info
    return size
end

DissectorTable.get("udp.port"):add(1210, tamblewick)
