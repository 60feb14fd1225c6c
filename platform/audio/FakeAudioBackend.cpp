#include "platform/audio/FakeAudioBackend.h"

#include <algorithm>

namespace quenbril {

namespace {

constexpr int kMaxFrames = 4096;

int total(const std::vector<int>& streams) {
    int sum = 0;
    for (int count : streams) sum += count;
    return sum;
}

}  // namespace

const FakeAudioBackend::Machine& FakeAudioBackend::listed() {
    // A host's first look, as a real one's as it starts.
    if (!looked_) look();
    return listed_;
}

void FakeAudioBackend::look() {
    lookedAt_.store(changes_.load());
    listed_ = machine_;
    looked_ = true;
}

void FakeAudioBackend::changed() {
    if (looked_) changes_.fetch_add(1);
}

std::vector<AudioBackendDevice> FakeAudioBackend::devices() { return listed().devices; }

std::optional<int> FakeAudioBackend::defaultInputDevice() { return listed().defaultInput; }

std::optional<int> FakeAudioBackend::defaultOutputDevice() { return listed().defaultOutput; }

void FakeAudioBackend::setDefaultInputDevice(std::optional<int> index) {
    machine_.defaultInput = index;
    changed();
}

void FakeAudioBackend::setDefaultOutputDevice(std::optional<int> index) {
    machine_.defaultOutput = index;
    changed();
}

int FakeAudioBackend::addDevice(const std::string& name, int inputs, int outputs, double rate) {
    AudioBackendDevice device;
    device.name = name;
    device.hostAPI = "Fake";
    if (inputs > 0) device.inputStreams = {inputs};
    if (outputs > 0) device.outputStreams = {outputs};
    device.defaultSampleRate = rate;
    return addDevice(std::move(device));
}

int FakeAudioBackend::addDevice(AudioBackendDevice device) {
    device.index = static_cast<int>(machine_.devices.size());
    machine_.devices.push_back(std::move(device));
    changed();
    return machine_.devices.back().index;
}

void FakeAudioBackend::removeDevice(const std::string& name) {
    auto& devices = machine_.devices;
    const auto gone = std::find_if(devices.begin(), devices.end(),
                                   [&](const auto& device) { return device.name == name; });
    if (gone == devices.end()) return;
    const int index = gone->index;
    devices.erase(gone);
    for (size_t at = 0; at < devices.size(); ++at) devices[at].index = static_cast<int>(at);
    for (std::optional<int>* standing : {&machine_.defaultInput, &machine_.defaultOutput}) {
        if (*standing == index) {
            standing->reset();
        } else if (standing->has_value() && **standing > index) {
            --**standing;
        }
    }
    changed();
    endStreamsOfDevicesGone();
}

void FakeAudioBackend::removeAllDevices() {
    machine_ = {};
    changed();
    endStreamsOfDevicesGone();
}

void FakeAudioBackend::setBusy(const std::string& name, bool busy) {
    std::erase(busy_, name);
    if (busy) busy_.push_back(name);
}

void FakeAudioBackend::startAfresh() {
    machine_ = {};
    listed_ = {};
    looked_ = false;
    endStreamsOfDevicesGone();
}

const AudioBackendDevice* FakeAudioBackend::onMachine(const AudioBackendDevice& device) const {
    // By name, as the host finds a device again after its index moved.
    const auto found =
        std::find_if(machine_.devices.begin(), machine_.devices.end(), [&](const auto& present) {
            return present.name == device.name && present.hostAPI == device.hostAPI;
        });
    return found == machine_.devices.end() ? nullptr : &*found;
}

void FakeAudioBackend::endStreamsOfDevicesGone() {
    // Under the lock that keeps a stream closing on another thread from going meanwhile.
    std::lock_guard lock(streamsLock_);
    for (FakeStream* stream : streams_) {
        if (onMachine(stream->device)) continue;
        stream->deviceGone = true;
        stream->lose();
    }
}

bool FakeAudioBackend::refresh() {
    ++refreshesAsked_;
    {
        std::lock_guard lock(streamsLock_);
        if (!streams_.empty()) return false;
    }
    look();
    ++refreshCount_;
    return true;
}

std::unique_ptr<AudioStream> FakeAudioBackend::openStream(const AudioStreamParameters& parameters,
                                                          AudioStreamClient& client,
                                                          std::string& error) {
    ++openCount_;
    if (opensFail_) {
        error = "Host not answering";
        return nullptr;
    }
    const auto& devices = listed().devices;
    if (parameters.device < 0 || parameters.device >= static_cast<int>(devices.size())) {
        error = "Invalid device";
        return nullptr;
    }
    // The device as the machine has it now.
    const AudioBackendDevice* present = onMachine(devices[static_cast<size_t>(parameters.device)]);
    if (!present) {
        error = "Device unavailable";
        return nullptr;
    }
    const AudioBackendDevice& device = *present;
    if (std::find(busy_.begin(), busy_.end(), device.name) != busy_.end()) {
        error = "Device unavailable";
        return nullptr;
    }
    if (parameters.inputChannels > total(device.inputStreams) ||
        parameters.outputChannels > total(device.outputStreams)) {
        error = "Invalid number of channels";
        return nullptr;
    }
    const bool rateAccepted = parameters.sampleRate == device.defaultSampleRate ||
                              std::find(acceptedRates_.begin(), acceptedRates_.end(),
                                        parameters.sampleRate) != acceptedRates_.end();
    if (!rateAccepted) {
        error = "Invalid sample rate";
        return nullptr;
    }
    return std::make_unique<FakeStream>(*this, device, parameters, client);
}

FakeAudioBackend::FakeStream::FakeStream(FakeAudioBackend& backend, AudioBackendDevice playedOn,
                                         AudioStreamParameters streamParameters,
                                         AudioStreamClient& streamClient)
    : owner(backend),
      device(std::move(playedOn)),
      parameters(streamParameters),
      client(streamClient) {
    inputs.assign(static_cast<size_t>(parameters.inputChannels),
                  std::vector<float>(kMaxFrames, 0.0f));
    outputs.assign(static_cast<size_t>(parameters.outputChannels),
                   std::vector<float>(kMaxFrames, 0.0f));
    for (auto& channel : inputs) inputPointers.push_back(channel.data());
    for (auto& channel : outputs) outputPointers.push_back(channel.data());
    std::lock_guard lock(owner.streamsLock_);
    owner.streams_.push_back(this);
}

FakeAudioBackend::FakeStream::~FakeStream() {
    std::lock_guard lock(owner.streamsLock_);
    auto& streams = owner.streams_;
    streams.erase(std::remove(streams.begin(), streams.end(), this), streams.end());
}

bool FakeAudioBackend::FakeStream::start() {
    if (owner.startsFail_ || deviceGone) return false;
    running = true;
    lost = false;
    return true;
}

void FakeAudioBackend::FakeStream::pump(int frames, bool underrun) {
    if (!running || lost) return;
    frames = std::clamp(frames, 0, kMaxFrames);
    for (auto& channel : outputs) std::fill_n(channel.begin(), frames, 99.0f);
    client.process(inputPointers.empty() ? nullptr : inputPointers.data(),
                   outputPointers.empty() ? nullptr : outputPointers.data(), frames, underrun);
}

}  // namespace quenbril
