#include "tests/support/AlsaMidiTestClient.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <unistd.h>

namespace quenbril::test {

bool AlsaMidiTestClient::sequencerOpens() {
    const int fd = ::open("/dev/snd/seq", O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

AlsaMidiTestClient::AlsaMidiTestClient(const std::string& name, int outputs, int inputs) {
    if (snd_seq_open(&sequencer_, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
        sequencer_ = nullptr;
        return;
    }
    snd_seq_set_client_name(sequencer_, name.c_str());
    const unsigned type = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;
    for (int k = 0; k < outputs; ++k) {
        outputs_.push_back(
            snd_seq_create_simple_port(sequencer_, ("out_" + std::to_string(k + 1)).c_str(),
                                       SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ, type));
    }
    for (int k = 0; k < inputs; ++k) {
        snd_seq_create_simple_port(sequencer_, ("in_" + std::to_string(k + 1)).c_str(),
                                   SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, type);
    }
    if (snd_midi_event_new(16, &encoder_) < 0) encoder_ = nullptr;
}

AlsaMidiTestClient::~AlsaMidiTestClient() {
    if (encoder_) snd_midi_event_free(encoder_);
    if (sequencer_) snd_seq_close(sequencer_);
}

bool AlsaMidiTestClient::send(int k, const std::vector<uint8_t>& bytes) {
    if (!sequencer_ || !encoder_ || k < 0 || static_cast<size_t>(k) >= outputs_.size() ||
        bytes.empty()) {
        return false;
    }
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_midi_event_reset_encode(encoder_);
    if (snd_midi_event_encode(encoder_, bytes.data(), static_cast<long>(bytes.size()), &event) <
            static_cast<long>(bytes.size()) ||
        event.type == SND_SEQ_EVENT_NONE) {
        return false;
    }
    snd_seq_ev_set_source(&event, static_cast<unsigned char>(outputs_[static_cast<size_t>(k)]));
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    if (snd_seq_event_output_direct(sequencer_, &event) < 0) return false;
    written_.fetch_add(1);
    return true;
}

}  // namespace quenbril::test
