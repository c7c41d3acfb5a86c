#include "soak_clients.h"

#include "sensor_events.h"

namespace zntr::soak {

SensorSession::SensorSession(const std::string& socket, bool subscribe)
    : file_(client::DeviceFile::Open(socket)),
      client_(std::make_unique<client::SensorClient>(*file_)),
      subscribed_(subscribe) {
    client_->Connect();
    if (subscribe) {
        client_->Subscribe([this](const client::SensorEvent& event) { OnEvent(event); });
    }
}

SensorSession::~SensorSession() {
    Leave(false);
}

void SensorSession::Leave(bool graceful) {
    if (!client_) {
        return;
    }
    if (graceful) {
        if (subscribed_) {
            client_->Unsubscribe();
        }
        client_->Disconnect();
    } else {
        file_->Close();
    }
    // Ends the event thread (its wait fails once the file is closed) before the file goes.
    client_.reset();
    file_->Close();
}

void SensorSession::OnEvent(const client::SensorEvent& event) {
    switch (event.kind) {
        case client::SensorEvent::Kind::kDataUpdated:
            ++dataEvents_;
            break;
        case client::SensorEvent::Kind::kStateChanged:
            ++stateEvents_;
            break;
        case client::SensorEvent::Kind::kEnded:
            endStatus_ = event.status;
            ended_ = true;
            break;
        case client::SensorEvent::Kind::kOther:
            break;
    }
}

RawReader::RawReader(const std::string& socket)
    : file_(client::DeviceFile::Open(socket)), reader_([this] { ReadLoop(); }) {}

RawReader::~RawReader() {
    closing_ = true;
    file_->Close();
    reader_.join();
}

void RawReader::ReadLoop() {
    while (!closing_) {
        const client::Completion read = file_->Read(1024);
        if (read.status != S_OK) {
            if (!closing_) {
                ++failedReads_;
            }
            return;
        }
        bytes_ += static_cast<std::int64_t>(read.data.size());
    }
}

}  // namespace zntr::soak
