#include "MonitorApp/serverlink/ServerManager.h"

#include <exception>

#include "MonitorApp/link/ClientDefaultsKeys.h"
#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/link/LinkFrame.h"
#include "MonitorApp/link/LinkMessageReader.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/SharedInstance.h"
#include "foundation/UserDefaults.h"
#include "foundation/dispatch/Queue.h"
#include "platform/discovery/AvahiDiscovery.h"
#include "sockets/DispatchSocket.h"

namespace quenbril {

namespace {

SharedInstance<ServerManager> shared;

bool useManualIP() {
    return UserDefaults::standardUserDefaults().boolForKey(ClientDefaultsKeys::kUseManualIP);
}

std::string describe(const std::optional<Error>& error) {
    return error ? error->toString() : std::string("(null)");
}

}  // namespace

ServerManager& ServerManager::sharedInstance() { return shared.get(); }

void ServerManager::resetSharedInstance() { shared.reset(); }

ServerManager::ServerManager() {
    // The link's socket lives on the main queue, where its calls are handled: the main loop reads
    // the frames itself, with no other thread woken per frame.
    asyncSocket_ = DispatchSocket::make(this, dispatch::Queue::main(), dispatch::Queue::main());
}

ServerManager::~ServerManager() {
    delegate_ = nullptr;
    pacingTimer_.invalidate();
    if (netServiceBrowser_) netServiceBrowser_->stop();
    // Closing reports to a delegate that is going away: the socket checks the delegate's life
    // before each call, so nothing arrives.
    if (asyncSocket_) asyncSocket_->setDelegate(nullptr);
    if (asyncSocketStream_) asyncSocketStream_->setDelegate(nullptr);
}

void ServerManager::setServiceBrowser(std::unique_ptr<ServiceBrowser> browser) {
    if (netServiceBrowser_) netServiceBrowser_->stop();
    netServiceBrowser_ = std::move(browser);
}

bool ServerManager::isConnected() const { return asyncSocket_->isConnected(); }

void ServerManager::sendConnectMessage(const std::string& text) {
    if (delegate_) delegate_->updateConnectMessageFromServer(text);
}

// ---- Connecting ----

void ServerManager::tryToConnect() {
    counter_ = 0;
    if (useManualIP()) {
        manualIP_ =
            UserDefaults::standardUserDefaults().stringForKey(ClientDefaultsKeys::kManualIP);
        sendConnectMessage("Conn to " + manualIP_.value_or("(null)") + "...");
        connectToManualAddress(manualIP_.value_or(""));
    } else if (serverAddresses_ && !serverAddresses_->empty()) {
        sendConnectMessage("Conn to " + host_ + "...");
        connectToNextAddress();
    } else {
        sendConnectMessage("Resolving address...");
        QLOG("Resolving...");
        startSearch();
    }
}

void ServerManager::startSearch() {
    if (!netServiceBrowser_) netServiceBrowser_ = makeAvahiServiceBrowser();
    netServiceBrowser_->stop();
    if (searching_) QLOG("DidStopSearch");
    // Stopping ended any resolution; the new search resolves once its first batch is in.
    firstBatchDone_ = false;
    resolving_ = false;
    searching_ = true;
    std::string type = "_" + UserSettingsManager::sharedInstance().qbIdentifier() + "._tcp.";
    netServiceBrowser_->browse(type, this);
}

void ServerManager::connectToNextAddress() {
    if (connecting_) QLOG("Connecting...");
    if (!serverAddresses_ || serverAddresses_->empty()) return;

    // A host that refuses at once would otherwise make the drop -> next address -> drop cycle
    // a busy loop: an attempt waits until a second has passed since the previous one started.
    RunLoop& loop = RunLoop::main();
    double now = loop.now();
    if (lastAttemptStart_ && now - *lastAttemptStart_ < kMinAttemptInterval) {
        if (!pacingTimer_.isValid()) {
            double wait = *lastAttemptStart_ + kMinAttemptInterval - now;
            pacingTimer_ = loop.scheduleTimer(wait, false, [this] { connectToNextAddress(); });
        }
        return;
    }
    pacingTimer_.invalidate();

    const auto& addresses = *serverAddresses_;
    const Bytes address = addresses[static_cast<uint32_t>(counter_) % addresses.size()];
    ++counter_;
    if (asyncSocket_->isDisconnected()) {
        lastAttemptStart_ = now;
        ++roundAttempts_;
        Error error;
        attemptStarted(asyncSocket_->connectToAddress(address, kConnectTimeout, &error), error);
    } else {
        QLOG("not disconnected!");
        asyncSocket_->disconnect();
    }
}

void ServerManager::connectToManualAddress(const std::string& address) {
    QLOG("Connecting to manual address %s", address.c_str());
    QLOG("Connecting %d, connected %d", connecting_ ? 1 : 0, isConnected() ? 1 : 0);
    if (!connecting_ && !isConnected()) {
        QLOG("Continue connection");
    } else {
        QLOG("Already connecting / connected");
        if (previousManualIP_ && *previousManualIP_ == address) return;
        QLOG("Disconnecting due to changed IP");
        asyncSocket_->disconnect();
        QLOG("Continue connection");
    }
    previousManualIP_ = address;
    Error error;
    attemptStarted(asyncSocket_->connectToHost(address, port_, manualConnectTimeout_, &error),
                   error);
}

void ServerManager::attemptStarted(bool started, const Error& error) {
    connecting_ = started;
    if (started) return;
    QLOG("Unable to connect: %s", error.toString().c_str());
    asyncSocket_->disconnect();
}

void ServerManager::disconnect() { asyncSocket_->disconnect(); }

// ---- Writing ----

bool ServerManager::maySend() {
    if (serverIsHere()) return true;
    if (!refusedSendLogged_) {
        refusedSendLogged_ = true;
        QLOG("The server is not here: nothing is sent until it is back with its state");
    }
    return false;
}

void ServerManager::sendDictionary(const Dictionary& message) {
    if (maySend()) write(message);
}

void ServerManager::sendOnConnection(const Dictionary& message) {
    if (connected_) write(message);
}

void ServerManager::write(const Dictionary& message) {
    Error error;
    auto body = LinkCodec::encodeBody(message, &error);
    if (!body) {
        QLOG("Cannot send a message: %s", error.toString().c_str());
        return;
    }
    if (body->size() > static_cast<size_t>(LinkFrameHeader::kMaxLength)) {
        QLOG("Cannot send a message of %zu bytes: over the frame limit", body->size());
        return;
    }
    auto header =
        LinkFrameHeader::forBody(LinkPeer::Remote, static_cast<int32_t>(body->size())).encode();
    asyncSocket_->writeData(Bytes(header.begin(), header.end()), writeProgress_.timeout(),
                            kHeaderTag);
    asyncSocket_->writeData(std::move(*body), writeProgress_.timeout(), kBodyWriteTag);
}

void ServerManager::sendMessage(const std::string& text) {
    if (!maySend()) return;
    Bytes data(text.begin(), text.end());
    data.push_back('\r');
    data.push_back('\n');
    asyncSocket_->writeData(std::move(data), -1, 0);
}

void ServerManager::startStream() {
    if (!asyncSocketStream_) {
        asyncSocketStream_ = DispatchSocket::make(this, dispatch::Queue::main());
        Error error;
        if (!asyncSocketStream_->connectToHost(host_, kDefaultPort, &error)) {
            QLOG("Unable to connect: %s", error.toString().c_str());
        }
    }
}

// ---- Reading ----

void ServerManager::readHeader() {
    asyncSocket_->readDataToLength(LinkFrameHeader::kSize, readProgress_.timeout(), kHeaderTag);
}

void ServerManager::handleHeader(const Bytes& data) {
    if (data.size() != LinkFrameHeader::kSize) {
        readHeader();
        return;
    }
    LinkFrameHeader header = LinkFrameHeader::decode(data.data());
    switch (auto verdict = header.check(LinkPeer::Remote)) {
        case LinkFrameHeader::Verdict::ReadBody:
            asyncSocket_->readDataToLength(static_cast<size_t>(header.length),
                                           readProgress_.timeout(), kBodyTag);
            break;
        case LinkFrameHeader::Verdict::Drop:
            readHeader();
            break;
        case LinkFrameHeader::Verdict::TooLong:
        case LinkFrameHeader::Verdict::BadLength: {
            // The stream cannot be trusted past a length like this one: the connection goes,
            // and the link comes back as after any drop.
            Error error = header.error(verdict);
            QLOG("Closing the link: %s", error.description.c_str());
            asyncSocket_->disconnect();
            break;
        }
    }
}

void ServerManager::handleBody(const Bytes& data) {
    try {
        Error error;
        auto message = LinkCodec::decodeMessage(data.data(), data.size(), &error);
        if (!message) throw std::runtime_error(error.toString());
        noteStateReceived(*message);
        if (delegate_) delegate_->messageReceivedFromServer(*message);
    } catch (const std::exception& e) {
        QLOG("Something went wrong!");
        log(LogLevel::Debug, "Dropped message: %s", e.what());
    }
    readHeader();
}

void ServerManager::noteStateReceived(const Value& message) {
    if (stateReceived_) return;
    const Dictionary* d = message.dictionaryValue();
    if (!d) return;
    auto command = LinkMessageReader::command(*d);
    if (!command || *command != LinkCommand::kInitialDataReady) return;
    // The delegate hears of it next, with the server already here.
    auto ready = LinkMessageReader::boolean(*d);
    if (ready && *ready) {
        stateReceived_ = true;
        refusedSendLogged_ = false;
    }
}

// ---- Socket callbacks ----

void ServerManager::socketDidConnectToHost(DispatchSocket* sock, const std::string& host,
                                           uint16_t port) {
    if (sock != asyncSocket_.get()) return;
    connecting_ = false;
    roundAttempts_ = 0;
    QLOG("Socket:DidConnectToHost: %s Port: %hu", host.c_str(), port);
    readHeader();
    connected_ = true;
    stateReceived_ = false;
    if (delegate_) delegate_->connectedToServer(host);
}

void ServerManager::socketDidReadData(DispatchSocket* sock, const Bytes& data, long tag) {
    if (sock != asyncSocket_.get()) return;
    if (tag == kHeaderTag) {
        handleHeader(data);
    } else {
        handleBody(data);
    }
}

void ServerManager::socketDidReadPartialDataOfLength(DispatchSocket* sock, size_t /*length*/,
                                                     long /*tag*/) {
    if (sock == asyncSocket_.get()) readProgress_.progressed();
}

std::optional<double> ServerManager::socketShouldTimeoutReadWithTag(DispatchSocket* sock,
                                                                    long /*tag*/,
                                                                    double /*elapsed*/,
                                                                    size_t /*bytesDone*/) {
    // A long frame over a slow link goes on as long as its bytes keep coming; each
    // reconnection would only send the whole initial state again.
    if (sock != asyncSocket_.get()) return std::nullopt;
    return readProgress_.extension();
}

void ServerManager::socketDidWriteDataWithTag(DispatchSocket* sock, long /*tag*/) {
    if (sock == asyncSocket_.get()) writeProgress_.progressed();
}

void ServerManager::socketDidWritePartialDataOfLength(DispatchSocket* sock, size_t /*length*/,
                                                      long /*tag*/) {
    if (sock == asyncSocket_.get()) writeProgress_.progressed();
}

std::optional<double> ServerManager::socketShouldTimeoutWriteWithTag(DispatchSocket* sock,
                                                                     long /*tag*/,
                                                                     double /*elapsed*/,
                                                                     size_t /*bytesDone*/) {
    // A long frame to a server behind a slow link goes on while the server takes its bytes; one
    // that takes none for the time-out is not reading.
    if (sock != asyncSocket_.get()) return std::nullopt;
    return writeProgress_.extension();
}

void ServerManager::socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>& error) {
    if (!sock || sock != asyncSocket_.get()) return;
    bool attemptFailed = !connected_;
    connecting_ = false;
    QLOG("SocketDidDisconnect:WithError: %s", describe(error).c_str());
    connected_ = false;
    stateReceived_ = false;
    if (!useManualIP()) {
        // Every address failed in turn: the list may hold only what the first resolution found
        // (an announcement on an interface or family that does not reach the server), or the
        // server may have moved. The service is resolved again while the attempts go on.
        if (attemptFailed && serverAddresses_ && roundAttempts_ >= serverAddresses_->size()) {
            roundAttempts_ = 0;
            needsResolution_ = true;
            // A search the daemon dropped resolves nothing: a new one resolves at its batch.
            if (searching_) {
                resolveServerService();
            } else {
                startSearch();
            }
        }
        connectToNextAddress();
    }
    if (delegate_) delegate_->disconnectedFromServer(error);
}

// ---- Discovery callbacks ----

void ServerManager::resolveServerService() {
    if (!serverService_ || !netServiceBrowser_ || resolving_) return;
    QLOG("Resolving...");
    resolving_ = true;
    netServiceBrowser_->resolve(*serverService_);
}

void ServerManager::serviceFound(const std::string& name) {
    QLOG("DidFindService: %s", name.c_str());
    if (!serverService_) serverService_ = name;
    // A service announced on several interfaces or families is reported at its first
    // announcement; resolving then would miss the others. So the first batch is awaited, and
    // only a service that comes after it is resolved at once.
    if (*serverService_ == name && firstBatchDone_ && needsResolution_) resolveServerService();
}

void ServerManager::firstBatchComplete() {
    firstBatchDone_ = true;
    if (needsResolution_) resolveServerService();
}

void ServerManager::serviceResolved(const ResolvedService& service) {
    if (!serverService_ || service.name != *serverService_) return;
    resolving_ = false;
    QLOG("DidResolve: (%s) %s", describeAddresses(service.addresses).c_str(),
         service.hostName.c_str());
    host_ = service.hostName;
    sendConnectMessage("Found " + host_ + " connecting...");
    if (!serverAddresses_ || !service.addresses.empty()) {
        serverAddresses_ = service.addresses;
        counter_ = 0;
        roundAttempts_ = 0;
        needsResolution_ = service.addresses.empty();
    }
    // An attempt under way, or a live link, goes on; the new list serves the next attempt.
    if (!connecting_ && asyncSocket_->isDisconnected()) connectToNextAddress();
}

void ServerManager::serviceRemoved(const std::string& name) {
    QLOG("DidRemoveService: %s", name.c_str());
}

void ServerManager::browseFailed(const Error& error) {
    searching_ = false;
    QLOG("DidNotSearch: %s", error.toString().c_str());
    if (delegate_) delegate_->discoveryUnavailable(error);
}

void ServerManager::resolveFailed(const std::string& name, const Error& /*error*/) {
    QLOG("DidNotResolve");
    // The next round of failed attempts asks again.
    if (serverService_ && name == *serverService_) resolving_ = false;
}

}  // namespace quenbril
