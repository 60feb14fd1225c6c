#include "simserver/SimServer.h"

#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/link/LinkMessageReader.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/dispatch/Queue.h"
#include "foundation/dispatch/TimerSource.h"
#include "simserver/SimSignals.h"
#include "sockets/DispatchSocket.h"

namespace quenbril {

namespace {

double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

/// A required value, or a LinkTypeError for a missing one (which drops the message like a
/// value of the wrong kind).
template <class T>
T required(const LinkRead<T>& read, std::string_view key) {
    const std::optional<T>& v = read.get();
    if (!v) throw LinkTypeError("missing \"" + std::string(key) + "\"");
    return *v;
}

/// A 64-bit integer at the top level of a message (strip ids beside "Command").
LinkRead<int64_t> int64Field(const Dictionary& m, std::string_view key) {
    const Value& v = m[key];
    if (v.isNull()) return LinkRead<int64_t>::missing();
    auto x = v.longLongValue();
    if (!x) return LinkRead<int64_t>::wrongKind("\"" + std::string(key) + "\" is not a number");
    return LinkRead<int64_t>::found(*x);
}

Dictionary message(std::string_view command, Value value) {
    return LinkMessageBuilder::message(command, std::move(value));
}

constexpr uint64_t kTicksPerTimecode = 5;    // "LTC" twice a second
constexpr uint64_t kTicksPerWarnings = 10;   // "ChannelWarnings" every second
constexpr uint64_t kTicksPerBattery = 50;    // batteries and antennas every 5 s
constexpr uint64_t kTicksPerIncident = 150;  // an SCP or an RF drop every 15 s
/// Frames of one remote handled in one turn of the server's queue.
constexpr size_t kFramesPerTurn = 32;
/// The largest frame a remote's message may make when it goes on to the others.
constexpr size_t kLargestRelayedFrame = SimChat::kMaxMessageBytes + LinkFrameHeader::kSize;

// A remote that has just connected may be sent the notebook, the chat history and the rest of
// its state at once: together they must leave room in its write queue for the frames that
// follow, or the remote would be dropped for what the server chose to send.
static_assert(SimNotebook::kMaxBytes + SimChat::kMaxHistoryBytes <= SimClient::kMaxQueuedBytes / 2);
// A remote's allowance takes the largest chat message there is.
static_assert(kLargestRelayedFrame <= SimRelayAllowance::kBurstBytes);

}  // namespace

SimServer::SimServer(const SimOptions& options)
    : options_(options),
      queue_(dispatch::Queue::makeSerial("quenbril.simserver")),
      connectionsQueue_(dispatch::Queue::makeSerial("quenbril.remotes")),
      production_(options.channels) {
    handlers_ = {
        {std::string(LinkCommand::kClientID), &SimServer::onClientID},
        {std::string(LinkCommand::kSoloOn), &SimServer::onSoloOn},
        {std::string(LinkCommand::kRegisterToChat), &SimServer::onRegisterToChat},
        {std::string(LinkCommand::kChatMessageFromClient), &SimServer::onChatMessageFromClient},
        {std::string(LinkCommand::kChatRemoveMessage), &SimServer::onChatRemoveMessage},
        {std::string(LinkCommand::kChannelClicked), &SimServer::onChannelClicked},
        {std::string(LinkCommand::kChannelLongClicked), &SimServer::onChannelLongClicked},
        {std::string(LinkCommand::kChannelCheckClicked), &SimServer::onChannelCheckClicked},
        {std::string(LinkCommand::kHardMuteClicked), &SimServer::onHardMuteClicked},
        {std::string(LinkCommand::kGroupClicked), &SimServer::onGroupClicked},
        {std::string(LinkCommand::kGroupLongClicked), &SimServer::onGroupLongClicked},
        {std::string(LinkCommand::kMarkerAdded), &SimServer::onMarkerAdded},
        {std::string(LinkCommand::kResetWarnings), &SimServer::onResetWarnings},
        {std::string(LinkCommand::kClear), &SimServer::onClear},
        {std::string(LinkCommand::kHardClear), &SimServer::onHardClear},
        {std::string(LinkCommand::kStartStream), &SimServer::onStartStream},
        {std::string(LinkCommand::kStopStream), &SimServer::onStopStream},
        {std::string(LinkCommand::kPlaybackStarted), &SimServer::onPlaybackStarted},
        {std::string(LinkCommand::kPlaybackStopped), &SimServer::onPlaybackStopped},
        {std::string(LinkCommand::kRemoteAddedNote), &SimServer::onRemoteAddedNote},
        {std::string(LinkCommand::kRemoveTimelineEntry), &SimServer::onRemoveTimelineEntry},
        {std::string(LinkCommand::kRemoveAllTimelineEntries),
         &SimServer::onRemoveAllTimelineEntries},
    };
}

SimServer::~SimServer() { stop(); }

bool SimServer::start(Error* error) {
    bool ok = false;
    queue_->sync([&] {
        if (listener_) {
            ok = true;
            return;
        }
        alive_ = std::make_shared<int>(0);
        listener_ = DispatchSocket::make(this, queue_);
        Error failure;
        if (!listener_->acceptOnPort(options_.port, &failure)) {
            if (error) *error = failure;
            listener_.reset();
            alive_.reset();
            return;
        }
        port_ = listener_->localPort();
        startTime_ = monotonicSeconds();
        ticks_ = 0;
        ticksDue_ = 0;
        ticksRun_ = 0;
        stream_.restart();
        nextSnapshotAt_ = options_.snapshotInterval;
        ticker_ = repeat(kTickInterval, [this](uint64_t fires) {
            ticksDue_ += fires;
            ++ticksRun_;
            tick();
        });
        // The stream on a timer of its own, in blocks far smaller than a remote's stream ring:
        // a tick's worth of audio at once would overflow that ring.
        streamer_ = repeat(SimStreamPacer::kInterval, [this](uint64_t) { sendStream(); });
        ok = true;
    });
    return ok;
}

void SimServer::stop() {
    queue_->sync([&] {
        alive_.reset();
        for (auto* timer : {&ticker_, &streamer_}) {
            if (*timer) {
                (*timer)->cancel();
                timer->reset();
            }
        }
        clients_.clear();
        if (listener_) {
            listener_->synchronouslySetDelegate(nullptr);
            listener_->disconnect();
            listener_.reset();
        }
    });
}

bool SimServer::handleFromRemote(uint64_t remote, const Dictionary& message) {
    bool handled = false;
    queue_->sync([&] {
        auto it = clients_.find(remote);
        if (!alive_ || it == clients_.end() || !it->second->isOpen()) return;
        auto body = LinkCodec::encodeBody(message);
        inputBytes_ = LinkFrameHeader::kSize + (body ? body->size() : 0);
        handle(*it->second, message);
        handled = true;
    });
    return handled;
}

double SimServer::now() const { return monotonicSeconds() - startTime_; }

double SimServer::absoluteNow() const { return RunLoop::realTimeNow(); }

// ---- listener and clients ----

std::shared_ptr<dispatch::Queue> SimServer::newSocketQueueForConnectionFromAddress(
    const Bytes&, DispatchSocket*) {
    // Every connection's socket work shares one queue, refused ones' included: a host that opens
    // connections without end must not make (and join) a thread for each.
    return connectionsQueue_;
}

void SimServer::socketDidAcceptNewSocket(DispatchSocket*, std::shared_ptr<DispatchSocket> socket) {
    if (!alive_) return;
    if (isFull()) {
        refuse(std::move(socket));
        return;
    }
    // First a look on the socket's own queue, where it waits for nothing: a connection that its
    // peer closed already is let go there, and costs this queue nothing more. From here, each
    // step on that queue, busy with every other connection, would hold up the ticks.
    std::weak_ptr<int> alive = alive_;
    connectionsQueue_->async([this, alive, queue = queue_, socket = std::move(socket)]() mutable {
        if (SimClient::peerHasClosed(*socket)) {
            socket->disconnect();
            socket.reset();  // let go here: a socket let go on another queue waits for its own
            return;
        }
        queue->async([this, alive, socket = std::move(socket)]() mutable {
            if (alive.lock()) serve(std::move(socket));
        });
    });
}

void SimServer::serve(std::shared_ptr<DispatchSocket> socket) {
    // More may have come since this one was looked at.
    if (isFull()) {
        refuse(std::move(socket));
        return;
    }
    SimClient::Owner* owner = this;
    auto client = std::make_unique<SimClient>(
        nextClientID_, std::move(socket), owner, [this] { return now(); }, options_.frameTimeout);
    if (!client->isOpen()) {
        // Closed since it was looked at: it takes no slot, and gets no initial state. It is let
        // go on its socket's queue, like a refused one.
        connectionsQueue_->async(
            [gone = std::shared_ptr<SimClient>(std::move(client))]() mutable { gone.reset(); });
        return;
    }
    uint64_t id = nextClientID_++;
    SimClient& c = *client;
    clients_[id] = std::move(client);
    QLOG("Remote %llu connected from %s (%zu connected)", static_cast<unsigned long long>(id),
         c.address().c_str(), clients_.size());
    sendInitialState(c);
    c.start();
}

void SimServer::refuse(std::shared_ptr<DispatchSocket> socket) {
    // On the socket's own queue, without waiting for it: however fast a host opens connections,
    // each costs this queue next to nothing.
    connectionsQueue_->async([socket = std::move(socket), connected = clients_.size()]() mutable {
        log(LogLevel::Warning,
            "Connection from %s refused and reset: %zu remotes connected already (at most %zu)",
            socket->connectedHost().value_or("?").c_str(), connected, kMaxClients);
        // Reset rather than closed in order: a peer that never closes its end would otherwise
        // keep the connection half-open here (FIN-WAIT-2) for the kernel's minute, and a host
        // that opens connections without end would hold ever more of them past the limit.
        socket->synchronouslySetDelegate(nullptr);
        linger reset{1, 0};
        setsockopt(socket->socketFD(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        socket->disconnect();
        // Let go here: a socket let go on another queue waits for its own.
        socket.reset();
    });
}

void SimServer::clientHasFrames(SimClient& client) {
    // A few frames a turn, then the rest after whatever else waits on the queue, the ticks
    // included: however fast one remote sends, the others' commands and level frames keep
    // their rhythm. Its connection is read on once all it sent is handled.
    for (size_t n = 0; n < kFramesPerTurn && client.isOpen(); ++n) {
        auto frame = client.takeFrame();
        if (!frame) break;
        Error error;
        auto decoded = LinkCodec::decodeBody(frame->body, &error);
        if (!decoded) {
            // A body that is no message costs that message only.
            log(LogLevel::Warning, "Remote %llu: frame of %zu bytes dropped: %s",
                static_cast<unsigned long long>(client.id()), frame->body.size(),
                error.description.c_str());
            continue;
        }
        inputBytes_ = LinkFrameHeader::kSize + frame->body.size();
        handle(client, *decoded);
    }
    if (!client.isOpen()) return;
    if (client.hasFrame()) {
        std::weak_ptr<int> alive = alive_;
        queue_->async([this, alive, id = client.id()] {
            if (!alive.lock()) return;
            auto it = clients_.find(id);
            if (it != clients_.end() && it->second->isOpen()) clientHasFrames(*it->second);
        });
    } else if (client.readFailed()) {
        drop(client, client.readError().description);
    } else {
        client.readMore();
    }
}

void SimServer::clientDisconnected(SimClient& client, const std::optional<Error>& error) {
    uint64_t id = client.id();
    QLOG("Remote %llu disconnected%s%s", static_cast<unsigned long long>(id), error ? ": " : "",
         error ? error->description.c_str() : "");
    if (chat_.removeClient(id)) {
        initialStateChanged();
        broadcast(chat_.clientsMessage());
        broadcast(chat_.colorsMessage());
    }
    // The client is inside its own callback: it goes once that has returned.
    std::weak_ptr<int> alive = alive_;
    queue_->async([this, alive, id] {
        if (alive.lock()) clients_.erase(id);
    });
}

void SimServer::drop(SimClient& client, const std::string& why) {
    if (!client.isOpen()) return;
    log(LogLevel::Warning, "Remote %llu dropped: %s", static_cast<unsigned long long>(client.id()),
        why.c_str());
    client.close();
}

void SimServer::handle(SimClient& client, const Dictionary& message) {
    // Most commands change something the initial state holds; whichever did is not worth
    // telling apart.
    initialStateChanged();
    try {
        auto command = LinkMessageReader::command(message);
        const std::optional<std::string>& name = command.get();
        if (!name) throw LinkTypeError("no \"Command\"");
        auto it = handlers_.find(*name);
        if (it == handlers_.end()) {
            log(LogLevel::Info, "Remote %llu: unknown command \"%s\" ignored",
                static_cast<unsigned long long>(client.id()), name->c_str());
            return;
        }
        (this->*(it->second))(client, message);
    } catch (const LinkTypeError& e) {
        log(LogLevel::Warning, "Something went wrong! (remote %llu: %s)",
            static_cast<unsigned long long>(client.id()), e.what());
    }
}

// ---- sending ----

std::shared_ptr<const Bytes> SimServer::encode(const Dictionary& message) {
    Error error;
    auto frame = LinkCodec::encodeFrame(message, LinkPeer::Server, &error);
    if (!frame) {
        log(LogLevel::Error, "Cannot encode \"%s\": %s",
            LinkMessageReader::command(message).isFound()
                ? LinkMessageReader::command(message)->c_str()
                : "?",
            error.description.c_str());
        return nullptr;
    }
    return std::make_shared<const Bytes>(std::move(*frame));
}

void SimServer::sendFrame(SimClient& client, const std::shared_ptr<const Bytes>& frame,
                          std::string_view state) {
    if (!frame || !client.isOpen()) return;
    if (frame->size() > SimClient::kMaxQueuedBytes / 2) {
        // The bounds on what remotes may store keep every frame far below this; should one
        // still grow so large, it is the server's fault, not the remote's.
        log(LogLevel::Error, "A frame of %zu bytes is too large to send to remote %llu",
            frame->size(), static_cast<unsigned long long>(client.id()));
        return;
    }
    if (!client.send(frame, state)) {
        drop(client, "it does not read what it is sent (" + std::to_string(client.queuedBytes()) +
                         " bytes waiting)");
    }
}

void SimServer::send(SimClient& client, const Dictionary& message) {
    sendFrame(client, encode(message), LinkMessageReader::wholeState(message));
}

void SimServer::broadcast(const Dictionary& message) {
    if (clients_.empty()) return;
    broadcastFrame(encode(message), LinkMessageReader::wholeState(message));
}

void SimServer::broadcastFrame(const std::shared_ptr<const Bytes>& frame, std::string_view state) {
    for (auto& [id, client] : clients_) sendFrame(*client, frame, state);
}

bool SimServer::mayRelay(SimClient& client, size_t bytes) {
    if (client.relayAllowance.take(bytes, now())) return true;
    if (client.relayAllowance.refused() == 1) {
        log(LogLevel::Warning,
            "Remote %llu sends faster than its messages may go on to the others: its chat "
            "messages, chat registrations, markers, removals and mic checks beyond %g a second "
            "are dropped",
            static_cast<unsigned long long>(client.id()), SimRelayAllowance::kMessagesPerSecond);
    }
    return false;
}

bool SimServer::mayRelayInput(SimClient& client) {
    // What the message came as, up to the largest that could go on: one larger is refused
    // for its size, once it is read, and costs the allowance no more than that.
    return mayRelay(client, std::min(inputBytes_, kLargestRelayedFrame));
}

void SimServer::sendInitialState(SimClient& c) {
    for (const auto& [frame, state] : initialState()) sendFrame(c, frame, state);
}

const std::vector<std::pair<std::shared_ptr<const Bytes>, std::string>>& SimServer::initialState() {
    if (!initialState_.empty()) return initialState_;
    // Encoding it is most of what a new connection costs; many at once would hold the ticks
    // back for every remote served.
    auto add = [&](const Dictionary& m) {
        initialState_.emplace_back(encode(m), LinkMessageReader::wholeState(m));
    };
    add(production_.clientNamesMessage());
    add(production_.masterVersionMessage());
    add(production_.channelsMessage());
    for (const Dictionary& player : production_.newPlayerMessages()) add(player);
    add(production_.groupColorsMessage());
    add(production_.snapshotNamesMessage());
    // A remote releases its group buttons that are on when it applies a snapshot: the states
    // come after it.
    add(production_.snapshotMessage());
    initialState_.emplace_back(encode(production_.groupStatesMessage()), groupStatesKey());
    add(production_.batteryThresholdMessage());
    // The batteries as of this building: it is built anew at least as often as they are sent
    // to every remote (sendBatteries()).
    double t = now();
    Array battery, batteryTime, antennas;
    for (size_t i = 0; i < production_.enabledStrips().size(); ++i) {
        const SimStrip& s = *production_.enabledStrips()[i];
        battery.push_back(Value(s.csID));
        batteryTime.push_back(Value(s.csID));
        antennas.push_back(Value(s.csID));
        battery.push_back(Value(s.timecode ? -2 : (i == 3 ? -1 : SimSignals::battery(i, t))));
        batteryTime.push_back(Value(s.timecode ? std::string() : SimSignals::batteryTime(i, t)));
        antennas.push_back(Value(s.timecode ? std::string() : SimSignals::antennas(i, t)));
    }
    add(message(LinkCommand::kBatteryData, Value(std::move(battery))));
    add(message(LinkCommand::kBatteryTimeData, Value(std::move(batteryTime))));
    add(message(LinkCommand::kAntennaData, Value(std::move(antennas))));
    add(production_.wirelessInfoMessage());
    add(production_.soloedChannelsMessage());
    add(production_.activeChannelsMessage());
    add(production_.hardMuteArrayMessage());
    add(production_.micCheckArrayMessage());
    add(production_.channelWarningsMessage());
    add(chat_.clientsMessage());
    add(notebook_.entriesMessage());
    add(message(LinkCommand::kInitialDataReady, Value(true)));
    return initialState_;
}

std::string SimServer::groupStatesKey() const {
    // A newer copy takes the place of one still waiting, but never of one sent before the last
    // snapshot: placed ahead of that snapshot, it would be released by it.
    return std::string(LinkCommand::kGroupStates) + " since snapshot " +
           std::to_string(snapshotChanges_);
}

void SimServer::sendGroupStates() {
    broadcastFrame(encode(production_.groupStatesMessage()), groupStatesKey());
}

// ---- the periodic part ----

std::shared_ptr<dispatch::TimerSource> SimServer::repeat(
    double interval, std::function<void(uint64_t fires)> handler) {
    auto timer = dispatch::TimerSource::make(queue_);
    std::weak_ptr<int> alive = alive_;
    std::weak_ptr<dispatch::TimerSource> weakTimer = timer;
    timer->setEventHandler([alive, weakTimer, handler = std::move(handler)] {
        auto source = weakTimer.lock();
        if (!alive.lock() || !source) return;
        handler(std::max<uint64_t>(source->data(), 1));
    });
    timer->setTimer(interval, interval);
    timer->resume();
    return timer;
}

void SimServer::tick() {
    double t = now();
    for (auto& [id, client] : clients_) {
        if (client->isOpen() && client->readStalled(t)) {
            char why[64];
            std::snprintf(why, sizeof why, "a frame it began got no bytes for %g s",
                          options_.frameTimeout);
            drop(*client, why);
        }
    }
    sendLevels(t);
    if (ticks_ % kTicksPerTimecode == 0) sendTimecode(t);
    if (ticks_ % kTicksPerBattery == kTicksPerBattery - 1) sendBatteries(t);
    if (ticks_ % kTicksPerIncident == kTicksPerIncident - 1) raiseSomeWarning();
    if (ticks_ % kTicksPerWarnings == 0) broadcast(production_.channelWarningsMessage());
    moveToNextSnapshot(t);
    // The notebook goes out once per tick however many notes came: a remote adding notes
    // without end costs the server's queue one notebook a tick, not one per note.
    if (notebookChanged_) {
        notebookChanged_ = false;
        broadcast(notebook_.entriesMessage());
    }
    ++ticks_;
}

void SimServer::moveToNextSnapshot(double t) {
    if (options_.snapshotInterval <= 0 || t < nextSnapshotAt_) return;
    // A late tick moves once and keeps the rhythm from now on.
    nextSnapshotAt_ += options_.snapshotInterval;
    if (nextSnapshotAt_ <= t) nextSnapshotAt_ = t + options_.snapshotInterval;
    production_.nextSnapshot();
    ++snapshotChanges_;
    initialStateChanged();
    QLOG("Snapshot \"%s\" is active",
         SimProduction::snapshotTitles()[production_.activeSnapshot()].c_str());
    broadcast(production_.snapshotMessage());
    // The snapshot released the groups that were on, here as on every remote.
    sendGroupStates();
}

void SimServer::sendLevels(double t) {
    if (clients_.empty()) return;
    size_t n = production_.enabledStrips().size();
    auto frame = [&](std::string_view command, auto byteOf) {
        Bytes bytes(n);
        for (size_t i = 0; i < n; ++i) bytes[i] = byteOf(i);
        broadcast(message(command, Value(std::move(bytes))));
    };
    frame(LinkCommand::kLevelData, [&](size_t i) { return SimSignals::levelByte(i, t); });
    frame(LinkCommand::kRfLevelData, [&](size_t i) { return SimSignals::rfDiversityByte(i, t); });
    const std::string_view antennas[] = {LinkCommand::kRfLevelDataA, LinkCommand::kRfLevelDataB,
                                         LinkCommand::kRfLevelDataC, LinkCommand::kRfLevelDataD};
    for (int a = 0; a < 4; ++a) {
        frame(antennas[a], [&](size_t i) { return SimSignals::rfByte(i, a, t); });
    }
    frame(LinkCommand::kRfLevelDataDiv,
          [&](size_t i) { return SimSignals::rfDiversityByte(i, t); });
    frame(LinkCommand::kQLData, [&](size_t i) { return SimSignals::qualityByte(i, t); });
    frame(LinkCommand::kQualityLevelData, [&](size_t i) { return SimSignals::qualityByte(i, t); });
}

void SimServer::sendStream() {
    const std::optional<SimStreamPacer::Block> block = stream_.due(now());
    if (!block) return;
    // The live stream is the same for every remote: encoded once, when one needs it.
    std::optional<std::shared_ptr<const Bytes>> live;
    for (auto& [id, client] : clients_) {
        if (!client->isOpen() || !client->streaming) continue;
        if (client->playbackCSID != 0) {
            auto p = production_.positionOf(client->playbackCSID);
            if (!p) continue;
            Dictionary m = LinkMessageBuilder::message(LinkCommand::kStreamData);
            m.set(Value(LinkKey::kLeftValue),
                  Value(SimSignals::toneBlock(*p, block->first - client->playbackDelay,
                                              block->count)));
            send(*client, m);
            continue;
        }
        if (!live) {
            auto m = production_.streamMessage(block->first, block->count);
            live = m ? encode(*m) : nullptr;
        }
        sendFrame(*client, *live);
    }
}

void SimServer::sendTimecode(double) {
    const SimStrip* tc = nullptr;
    for (const SimStrip* s : production_.enabledStrips()) {
        if (s->timecode) tc = s;
    }
    if (!tc || clients_.empty()) return;
    // The show's timecode is the time of day.
    double wall = absoluteNow();
    int64_t frame = SimSignals::timecodeFrameOfDay(wall);
    int64_t whole = frame / SimSignals::kTimecodeFps;
    auto frames = static_cast<int32_t>(frame % SimSignals::kTimecodeFps);
    Dictionary ltc = LinkMessageBuilder::message(LinkCommand::kLTC);
    ltc.set(Value(LinkKey::kCSID), Value(tc->csID));
    ltc.set(Value(LinkKey::kReceiveTime), Value(wall));
    ltc.set(Value(LinkKey::kSendTime), Value(absoluteNow()));
    ltc.set(Value(LinkKey::kFPS), Value(SimSignals::kTimecodeFps));
    ltc.set(Value(LinkKey::kHours), Value(static_cast<int32_t>(whole / 3600)));
    ltc.set(Value(LinkKey::kMinutes), Value(static_cast<int32_t>(whole / 60 % 60)));
    ltc.set(Value(LinkKey::kSeconds), Value(static_cast<int32_t>(whole % 60)));
    ltc.set(Value(LinkKey::kFrames), Value(frames));
    broadcast(ltc);

    Dictionary sample;
    sample.set("CSID", Value(tc->csID));
    sample.set("LTCSample", Value(SimSignals::timecodePicture(wall)));
    sample.set("FPS", Value(SimSignals::kTimecodeFps));
    sample.set("fromMax", Value(-6.5f));
    broadcast(message(LinkCommand::kLTCSample, Array{Value(std::move(sample))}));
}

void SimServer::sendBatteries(double t) {
    // A remote that connects later starts from the batteries the others are sent now, and from
    // the warnings they raise.
    initialStateChanged();
    Array battery, batteryTime, antennas;
    for (size_t i = 0; i < production_.enabledStrips().size(); ++i) {
        const SimStrip& s = *production_.enabledStrips()[i];
        if (s.timecode) continue;
        battery.push_back(Value(s.csID));
        battery.push_back(Value(i == 3 ? -1 : SimSignals::battery(i, t)));
        batteryTime.push_back(Value(s.csID));
        batteryTime.push_back(Value(SimSignals::batteryTime(i, t)));
        antennas.push_back(Value(s.csID));
        antennas.push_back(Value(SimSignals::antennas(i, t)));
        if (SimSignals::battery(i, t) < SimProduction::kBatteryThreshold && i != 3) {
            production_.setWarning(s.csID, 2);
        }
    }
    broadcast(message(LinkCommand::kBatteryData, Value(std::move(battery))));
    broadcast(message(LinkCommand::kBatteryTimeData, Value(std::move(batteryTime))));
    broadcast(message(LinkCommand::kAntennaData, Value(std::move(antennas))));
}

void SimServer::raiseSomeWarning() {
    initialStateChanged();
    const auto& strips = production_.enabledStrips();
    random_ = random_ * 1103515245u + 12345u;
    const SimStrip& s = *strips[(random_ >> 8) % strips.size()];
    if (s.timecode) return;
    if ((random_ >> 20) % 2 == 0) {
        production_.setWarning(s.csID, 1);
        broadcast(message(LinkCommand::kSCPOnChannel, Value(s.csID)));
    } else {
        production_.setWarning(s.csID, 3);
    }
}

// ---- commands ----

std::string SimServer::userName(const SimClient& client) const {
    if (const SimChat::Client* c = chat_.client(client.id())) return c->chatName;
    return "Remote " + std::to_string(client.id());
}

void SimServer::sendSoloState() {
    QLOG("Active strips: %s", production_.namesOf(production_.active()).c_str());
    QLOG("Soloed strips: %s", production_.namesOf(production_.soloed()).c_str());
    broadcast(production_.soloedChannelsMessage());
    broadcast(production_.activeChannelsMessage());
}

void SimServer::onClientID(SimClient& client, const Dictionary& m) {
    client.clientID = required(LinkMessageReader::int32(m), "Value");
    QLOG("Remote %llu is client %d", static_cast<unsigned long long>(client.id()),
         *client.clientID);
}

void SimServer::onSoloOn(SimClient& client, const Dictionary& m) {
    client.soloOn = required(LinkMessageReader::boolean(m), "Value");
    QLOG("Remote %llu: single solo %s", static_cast<unsigned long long>(client.id()),
         *client.soloOn ? "on" : "off");
}

void SimServer::onRegisterToChat(SimClient& client, const Dictionary& m) {
    const Dictionary* value = required(LinkMessageReader::dictionary(m), "Value");
    // Each registration sends every remote the chat's users and their colours.
    if (!mayRelayInput(client)) return;
    std::string name =
        (*value)["sender"].stringValue() ? *(*value)["sender"].stringValue() : userName(client);
    std::string uuid = (*value)["uuid"].stringValue() ? *(*value)["uuid"].stringValue() : "";
    if (name.size() > SimChat::kMaxNameBytes || uuid.size() > SimChat::kMaxNameBytes) {
        log(LogLevel::Warning,
            "Remote %llu: chat registration refused: a name of %zu bytes or a uuid of %zu bytes "
            "(at most %zu)",
            static_cast<unsigned long long>(client.id()), name.size(), uuid.size(),
            SimChat::kMaxNameBytes);
        return;
    }
    bool isNew = chat_.registerClient(client.id(), name, client.host(), uuid);
    QLOG("Remote %llu %s the chat as \"%s\"", static_cast<unsigned long long>(client.id()),
         isNew ? "joined" : "renamed itself in", name.c_str());
    if (isNew) send(client, chat_.historyMessage());
    broadcast(chat_.clientsMessage());
    // The users' colours follow every change of the users, so that senders show in theirs.
    broadcast(chat_.colorsMessage());
}

void SimServer::onChatMessageFromClient(SimClient& client, const Dictionary& m) {
    const Dictionary* value = required(LinkMessageReader::dictionary(m), "Value");
    if (!mayRelayInput(client)) return;
    // Every addressee gets this frame and every later member of the chat its text: one that
    // large would fill their queues.
    auto refuseAsTooLarge = [&](size_t bytes) {
        log(LogLevel::Warning, "Remote %llu: chat message of %zu bytes refused (at most %zu)",
            static_cast<unsigned long long>(client.id()), bytes, SimChat::kMaxMessageBytes);
    };
    if (inputBytes_ > kLargestRelayedFrame) {
        refuseAsTooLarge(inputBytes_ - LinkFrameHeader::kSize);
        return;
    }
    const std::string* recipient = (*value)["recipient"].stringValue();
    auto frame = encode(message(LinkCommand::kChatMessageFromServer, Value(*value)));
    if (!frame) return;
    if (frame->size() > kLargestRelayedFrame || !chat_.addToHistory(*value, absoluteNow())) {
        refuseAsTooLarge(frame->size() - LinkFrameHeader::kSize);
        return;
    }
    QLOG("Remote %llu: chat message to %s", static_cast<unsigned long long>(client.id()),
         recipient ? recipient->c_str() : "everyone");
    for (uint64_t id : chat_.addressees(recipient ? *recipient : std::string(), client.id())) {
        auto it = clients_.find(id);
        if (it != clients_.end()) sendFrame(*it->second, frame);
    }
}

void SimServer::onChatRemoveMessage(SimClient& client, const Dictionary& m) {
    std::string id = required(LinkMessageReader::string(m), "Value");
    if (!mayRelayInput(client)) return;
    if (id.size() > SimChat::kMaxNameBytes) {
        log(LogLevel::Warning, "Remote %llu: removal of a message id of %zu bytes refused",
            static_cast<unsigned long long>(client.id()), id.size());
        return;
    }
    auto frame = encode(message(LinkCommand::kChatRemoveMessage, Value(id)));
    if (!frame) return;
    chat_.removeMessage(id);
    broadcastFrame(frame);
}

void SimServer::onChannelClicked(SimClient& client, const Dictionary& m) {
    int64_t csID = required(LinkMessageReader::stripID(m), "Value");
    // A click makes the strip active, the one listened to, as the monitoring server does: with
    // single solo it moves there; otherwise it is added or taken out. A remote sends "SoloOn"
    // only as it reconnects or saves its preferences; until then it has its default, single
    // solo.
    const bool single = client.soloOn.value_or(true);
    if (!(single ? production_.activateSingle(csID) : production_.toggleActive(csID))) {
        QLOG("Remote %llu clicked unknown strip %lld", static_cast<unsigned long long>(client.id()),
             static_cast<long long>(csID));
        return;
    }
    QLOG("Remote %llu clicked strip %s (single solo %s)",
         static_cast<unsigned long long>(client.id()), production_.namesOf({csID}).c_str(),
         single ? "on" : "off");
    sendSoloState();
}

void SimServer::onChannelLongClicked(SimClient& client, const Dictionary& m) {
    int64_t csID = required(LinkMessageReader::stripID(m), "Value");
    if (!production_.soloOnly(csID)) {
        QLOG("Remote %llu long-clicked unknown strip %lld",
             static_cast<unsigned long long>(client.id()), static_cast<long long>(csID));
        return;
    }
    QLOG("Remote %llu long-clicked strip %s", static_cast<unsigned long long>(client.id()),
         production_.namesOf({csID}).c_str());
    sendSoloState();
}

void SimServer::onChannelCheckClicked(SimClient& client, const Dictionary& m) {
    int64_t csID = required(LinkMessageReader::stripID(m), "Value");
    // Each click goes to every remote as a message of its own, a small one.
    if (!mayRelay(client, 0)) return;
    if (production_.toggleMicCheck(csID, userName(client), absoluteNow())) {
        broadcast(production_.micCheckStateMessage(csID));
    }
}

void SimServer::onHardMuteClicked(SimClient&, const Dictionary& m) {
    int64_t csID = required(LinkMessageReader::stripID(m), "Value");
    if (production_.toggleHardMute(csID)) broadcast(production_.hardMuteArrayMessage());
}

void SimServer::onGroupClicked(SimClient&, const Dictionary& m) {
    int32_t group = required(LinkMessageReader::int32(m), "Value");
    if (production_.toggleGroup(group)) {
        QLOG("Group %d toggled", group);
        sendGroupStates();
    }
}

void SimServer::onGroupLongClicked(SimClient&, const Dictionary& m) {
    int32_t group = required(LinkMessageReader::int32(m), "Value");
    if (production_.setGroupHard(group)) sendGroupStates();
}

void SimServer::onMarkerAdded(SimClient& client, const Dictionary& m) {
    if (!mayRelayInput(client)) return;
    const Value& who = m[LinkKey::kValue];
    if (who.isString() && who.stringValue()->size() > SimChat::kMaxNameBytes) {
        log(LogLevel::Warning, "Remote %llu: marker with a name of %zu bytes refused",
            static_cast<unsigned long long>(client.id()), who.stringValue()->size());
        return;
    }
    auto frame =
        encode(message(LinkCommand::kMarkerAdded, who.isString() ? who : Value(userName(client))));
    if (!frame) return;
    broadcastFrame(frame);
}

void SimServer::onResetWarnings(SimClient&, const Dictionary&) {
    production_.clearWarnings();
    broadcast(production_.channelWarningsMessage());
}

void SimServer::onClear(SimClient&, const Dictionary&) {
    production_.clearSolo();
    sendSoloState();
}

void SimServer::onHardClear(SimClient&, const Dictionary&) {
    production_.clearSolo();
    production_.clearGroups();
    sendSoloState();
    sendGroupStates();
}

void SimServer::onStartStream(SimClient& client, const Dictionary&) { client.streaming = true; }

void SimServer::onStopStream(SimClient& client, const Dictionary&) { client.streaming = false; }

void SimServer::onPlaybackStarted(SimClient& client, const Dictionary& m) {
    int64_t csID = required(int64Field(m, LinkKey::kCSID), LinkKey::kCSID);
    int32_t delay =
        required(LinkMessageReader::int32(m, LinkKey::kDelayInSamples), LinkKey::kDelayInSamples);
    if (delay <= 0 || !production_.positionOf(csID)) {
        client.playbackCSID = 0;
        client.playbackDelay = 0;
        return;
    }
    client.playbackCSID = csID;
    client.playbackDelay = delay;
    QLOG("Remote %llu replays strip %lld from %.1f s ago",
         static_cast<unsigned long long>(client.id()), static_cast<long long>(csID),
         delay / static_cast<double>(SimSignals::kSampleRate));
}

void SimServer::onPlaybackStopped(SimClient& client, const Dictionary&) {
    client.playbackCSID = 0;
    client.playbackDelay = 0;
}

void SimServer::onRemoteAddedNote(SimClient& client, const Dictionary& m) {
    SimNotebook::Entry e;
    e.note = LinkMessageReader::string(m, LinkKey::kNote).get().value_or("");
    e.creator = LinkMessageReader::string(m, LinkKey::kUsername).get().value_or(userName(client));
    e.csID = int64Field(m, LinkKey::kCsID).get().value_or(0);
    const Value& time = m[LinkKey::kTime];
    if (!time.isNull() && !time.isDate()) throw LinkTypeError("\"Time\" is not a date");
    e.time = time.dateValue().value_or(absoluteNow());
    if (auto ltc = LinkMessageReader::dictionary(m, LinkKey::kLTC).get()) {
        // Each field travels as an unsigned 8-bit number.
        auto field = [&](const char* key) {
            return static_cast<int32_t>((**ltc)[key].longLongValue().value_or(0) & 0xFF);
        };
        e.hours = field("hours");
        e.mins = field("mins");
        e.secs = field("secs");
        e.frame = field("frame");
    }
    size_t bytes = e.note.size() + e.creator.size();
    auto teID = notebook_.add(std::move(e));
    if (!teID) {
        // Every remote is sent the whole notebook: a note that large would fill their queues.
        log(LogLevel::Warning, "Remote %llu: note of %zu bytes refused (at most %zu)",
            static_cast<unsigned long long>(client.id()), bytes, SimNotebook::kMaxEntryBytes);
        return;
    }
    QLOG("Remote %llu added note %d", static_cast<unsigned long long>(client.id()), *teID);
    notebookChanged_ = true;
}

void SimServer::onRemoveTimelineEntry(SimClient&, const Dictionary& m) {
    notebook_.remove(required(LinkMessageReader::int32(m, LinkKey::kTeID), LinkKey::kTeID));
    notebookChanged_ = true;
}

void SimServer::onRemoveAllTimelineEntries(SimClient&, const Dictionary&) {
    notebook_.clear();
    notebookChanged_ = true;
}

}  // namespace quenbril
