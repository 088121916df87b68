#include "net/net_node.h"

#include <algorithm>

namespace tw {

void NetNode::maintain(SessionTime reading) {
    set_now(reading);
    flush_unattached();
    admission.forget_stale(now);
    walk_peers();
    // After the walk, so that a session it found lost begins its wait for the next
    // attempt at this reading.
    watch_session();
}

void NetNode::walk_peers() {
    // The table may shrink while it is walked: a removed peer's place is examined again,
    // since it now holds the next peer.
    std::size_t position = 0;
    while (position < peer_table.size()) {
        Peer& peer = peer_table[position];
        const PeerDue due = peer.deadlines(now);
        peer.note_waiting(now);
        if (now >= due.time_out) {
            if (time_out(position)) {
                return;
            }
            continue;
        }
        if (now >= due.ping) {
            peer.pinged_at = now;
            send_ping(peer);
        }
        flush_outbox(peer);
        peer.schedule_resends(now);
        ++position;
    }
    // The pass's datagrams leave together, in the order the peers' outboxes gave them.
    socket_endpoint.flush_sends();
}

bool NetNode::time_out(std::size_t position) {
    if (!serving) {
        // A client has only its server: when that goes silent, the session is over.
        report(SessionEvent{SessionEvent::What::lost,
                            peer_table[position].name,
                            peer_table[position].address_text,
                            false,
                            true,
                            {}});
        keep_unacknowledged_lines(peer_table[position]);
        report_kept_lines();
        peer_table.clear();
        socket_endpoint.close_socket();
        return true;
    }
    if (peer_table[position].waiting()) {
        // A login that never confirmed was never shown or announced: it leaves unseen.
        ++counts.abandoned_logins;
        peer_table.remove(position);
        return false;
    }
    announce_timeout(position);
    pending_events.push_back(SessionEvent{SessionEvent::What::timed_out,
                                          peer_table[position].name,
                                          peer_table[position].address_text,
                                          false,
                                          false,
                                          {}});
    peer_table.remove(position);
    return false;
}

void NetNode::flush_unattached() {
    for (const Unattached& reply : unattached) {
        socket_endpoint.set_destination(reply.to);
        transmit_later(reply.message.encode());
    }
    unattached.clear();
}

void NetNode::keep_unacknowledged_lines(const Peer& server) {
    for (const NetMessage& message : server.channel.reliable_queue) {
        if (message.kind == KIND_CHAT) {
            kept_lines.push_back(read_text(message));
        }
    }
}

void NetNode::report_kept_lines() {
    // Lines kept from an earlier session and not yet sent count too: all go together.
    if (!kept_lines.empty()) {
        SessionEvent kept{SessionEvent::What::kept, {}, {}};
        kept.count = kept_lines.size();
        pending_events.push_back(std::move(kept));
    }
}

}  // namespace tw
