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

std::vector<AudioBackendDevice> FakeAudioBackend::devices() { return devices_; }

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
    device.index = static_cast<int>(devices_.size());
    devices_.push_back(std::move(device));
    return devices_.back().index;
}

void FakeAudioBackend::removeAllDevices() {
    devices_.clear();
    defaultInput_.reset();
    defaultOutput_.reset();
}

bool FakeAudioBackend::refresh() {
    {
        std::lock_guard lock(streamsLock_);
        if (!streams_.empty()) return false;
    }
    ++refreshCount_;
    return true;
}

std::unique_ptr<AudioStream> FakeAudioBackend::openStream(const AudioStreamParameters& parameters,
                                                          AudioStreamClient& client,
                                                          std::string& error) {
    if (opensFail_) {
        error = "Host not answering";
        return nullptr;
    }
    if (parameters.device < 0 || parameters.device >= static_cast<int>(devices_.size())) {
        error = "Invalid device";
        return nullptr;
    }
    const AudioBackendDevice& device = devices_[static_cast<size_t>(parameters.device)];
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
    return std::make_unique<FakeStream>(*this, parameters, client);
}

FakeAudioBackend::FakeStream::FakeStream(FakeAudioBackend& backend,
                                         AudioStreamParameters streamParameters,
                                         AudioStreamClient& streamClient)
    : owner(backend), parameters(streamParameters), client(streamClient) {
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
    if (owner.startsFail_) return false;
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
