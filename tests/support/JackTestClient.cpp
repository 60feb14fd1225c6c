#include "tests/support/JackTestClient.h"

#include <jack/jack.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <thread>

#include "platform/jack/JackClients.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {

namespace {

// Port buffers are shared memory that libjack passes from client to client in graph order, with
// futexes ThreadSanitizer cannot see: this client's own reads and writes of them are kept out of
// its view, or every cycle's hand-over from the engine's clients would look like a race.
__attribute__((noinline, no_sanitize("thread"))) void storeToPort(float* port, size_t i,
                                                                  float value) {
    port[i] = value;
}

__attribute__((noinline, no_sanitize("thread"))) void copyFromPort(const float* port, size_t count,
                                                                   float* to) {
    for (size_t i = 0; i < count; ++i) to[i] = port[i];
}

}  // namespace

JackTestClient::JackTestClient(const std::string& name, int inputs, int outputs) : name_(name) {
    jack_status_t status{};
    client_ = JackClients::open(name.c_str(), &status);
    if (!client_) return;
    auto held = JackClients::inUse();
    JackClients::track(client_, serverGone_);
    name_ = jack_get_client_name(client_);
    const size_t capacity =
        static_cast<size_t>(kMaxSeconds * static_cast<double>(jack_get_sample_rate(client_)));
    for (int k = 0; k < inputs; ++k) {
        inputs_.push_back(jack_port_register(client_, ("in_" + std::to_string(k + 1)).c_str(),
                                             JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0));
        recordings_.emplace_back(capacity, 0.0f);
    }
    inputBuffers_.assign(inputs_.size(), nullptr);
    // A period holds 16 frames or more.
    periods_.assign(capacity / 16 + 1, Period{});
    for (int k = 0; k < outputs; ++k) {
        outputs_.push_back(jack_port_register(client_, ("out_" + std::to_string(k + 1)).c_str(),
                                              JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0));
        generators_.push_back(std::make_unique<Generator>());
    }
    jack_set_process_callback(client_, &JackTestClient::process, this);
    jack_on_shutdown(client_, &JackTestClient::shutdown, this);
    roster_.attach(client_);
    if (jack_activate(client_) != 0) {
        JackClients::forget(client_);
        jack_client_close(client_);
        client_ = nullptr;
    }
}

JackTestClient::~JackTestClient() {
    if (!client_) return;
    auto held = JackClients::inUse();
    JackClients::forget(client_);
    // A gone server's client is libjack's to free (see JackClients).
    if (serverGone_) {
        roster_.outliveClient();
        return;
    }
    roster_.settle(client_);
    JackClients::close(client_);
}

int JackTestClient::sampleRate() const {
    return client_ ? static_cast<int>(jack_get_sample_rate(client_)) : 0;
}

std::string JackTestClient::inputPort(int k) const {
    return name_ + ":in_" + std::to_string(k + 1);
}

std::string JackTestClient::outputPort(int k) const {
    return name_ + ":out_" + std::to_string(k + 1);
}

bool JackTestClient::connect(const std::string& from, const std::string& to) {
    if (!client_) return false;
    const int result = jack_connect(client_, from.c_str(), to.c_str());
    return result == 0 || result == EEXIST;
}

std::vector<std::string> JackTestClient::ports(const std::string& pattern) const {
    std::vector<std::string> names;
    if (!client_) return names;
    const char** found = jack_get_ports(client_, pattern.c_str(), nullptr, 0);
    for (const char** p = found; p && *p; ++p) names.emplace_back(*p);
    if (found) jack_free(found);
    return names;
}

std::vector<std::string> JackTestClient::connections(const std::string& port) const {
    std::vector<std::string> names;
    jack_port_t* found = client_ ? jack_port_by_name(client_, port.c_str()) : nullptr;
    if (!found) return names;
    const char** connected = jack_port_get_all_connections(client_, found);
    for (const char** p = connected; p && *p; ++p) names.emplace_back(*p);
    if (connected) jack_free(connected);
    return names;
}

void JackTestClient::setConstant(int k, float value) {
    generators_[static_cast<size_t>(k)]->frequency = 0.0;
    generators_[static_cast<size_t>(k)]->constant = value;
}

void JackTestClient::setTone(int k, double frequency, float amplitude) {
    generators_[static_cast<size_t>(k)]->amplitude = amplitude;
    generators_[static_cast<size_t>(k)]->frequency = frequency;
}

void JackTestClient::record(double seconds) {
    wantedFrames_ = 0;
    recordedFrames_ = 0;
    recordedPeriods_ = 0;
    const double frames = std::min(seconds, kMaxSeconds) * sampleRate();
    wantedFrames_ = static_cast<size_t>(frames);
}

bool JackTestClient::waitRecorded(double timeout) const {
    // JACK's dummy driver never makes up for a late period: under load its periods come at a
    // fraction of their rate, and only a wait in which none comes is a fault.
    size_t seen = recordedFrames_.load();
    auto deadline = std::chrono::steady_clock::now() + scaledDuration(timeout);
    for (size_t frames = seen; frames < wantedFrames_.load(); frames = recordedFrames_.load()) {
        if (serverGone_) return false;
        if (frames != seen) {
            seen = frames;
            deadline = std::chrono::steady_clock::now() + scaledDuration(timeout);
        } else if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<float> JackTestClient::recorded(int k) const {
    const auto& recording = recordings_[static_cast<size_t>(k)];
    return {recording.begin(),
            recording.begin() + static_cast<std::ptrdiff_t>(recordedFrames_.load())};
}

std::vector<JackTestClient::Period> JackTestClient::periods() const {
    return {periods_.begin(),
            periods_.begin() + static_cast<std::ptrdiff_t>(recordedPeriods_.load())};
}

std::string JackTestClient::describePeriods(size_t from, size_t to) const {
    std::string text;
    for (const Period& period : periods()) {
        if (period.first < from || period.first > to) continue;
        char line[128];
        std::snprintf(line, sizeof line,
                      "period at %zu: frame time %u..%u, inputs connected 0x%x\n", period.first,
                      period.frameTimeBefore, period.frameTimeAfter, period.connected);
        text += line;
    }
    return text;
}

int JackTestClient::process(jack_nframes_t frames, void* context) {
    auto* self = static_cast<JackTestClient*>(context);
    const double rate = jack_get_sample_rate(self->client_);
    for (size_t k = 0; k < self->outputs_.size(); ++k) {
        auto* out = static_cast<float*>(jack_port_get_buffer(self->outputs_[k], frames));
        Generator& g = *self->generators_[k];
        const double frequency = g.frequency.load();
        if (frequency > 0.0) {
            const float amplitude = g.amplitude.load();
            const double step = 2.0 * std::numbers::pi * frequency / rate;
            for (jack_nframes_t i = 0; i < frames; ++i) {
                storeToPort(out, i, amplitude * static_cast<float>(std::sin(g.phase)));
                g.phase = std::fmod(g.phase + step, 2.0 * std::numbers::pi);
            }
        } else {
            const float constant = g.constant.load();
            for (jack_nframes_t i = 0; i < frames; ++i) storeToPort(out, i, constant);
        }
    }
    const size_t wanted = self->wantedFrames_.load();
    const size_t done = self->recordedFrames_.load();
    if (done < wanted) {
        const size_t count = std::min<size_t>(frames, wanted - done);
        const jack_nframes_t before = jack_last_frame_time(self->client_);
        // Every input's buffer is looked up before any is copied, so that all of them come from
        // the graph the period began with.
        uint32_t connected = 0;
        for (size_t k = 0; k < self->inputs_.size(); ++k) {
            self->inputBuffers_[k] =
                static_cast<const float*>(jack_port_get_buffer(self->inputs_[k], frames));
            if (k < 32 && jack_port_connected(self->inputs_[k]) > 0) connected |= 1u << k;
        }
        for (size_t k = 0; k < self->inputs_.size(); ++k) {
            copyFromPort(self->inputBuffers_[k], count, self->recordings_[k].data() + done);
        }
        const size_t period = self->recordedPeriods_.load();
        if (period < self->periods_.size()) {
            self->periods_[period] = {done, before, jack_last_frame_time(self->client_), connected};
            self->recordedPeriods_.store(period + 1);
        }
        self->recordedFrames_.store(done + count);
    }
    return 0;
}

void JackTestClient::shutdown(void* context) {
    static_cast<JackTestClient*>(context)->serverGone_ = true;
}

}  // namespace quenbril::test
