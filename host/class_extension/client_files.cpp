#include "client_files.h"

#include <algorithm>

namespace zntr::host {

namespace message = zntr::sensor_message;

void ClientFiles::Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
}

std::vector<std::shared_ptr<ClientFile>> ClientFiles::Close(HRESULT status,
                                                            Deliveries* deliveries) {
    std::vector<std::shared_ptr<ClientFile>> closed;
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
    for (auto& [pointer, file] : files_) {
        file->removed = true;
        EndWaits(*file, status, deliveries);
        file->events.clear();
        closed.push_back(std::move(file));
    }
    files_.clear();
    return closed;
}

std::shared_ptr<ClientFile> ClientFiles::Find(IWDFFile* file) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) {
        return nullptr;
    }
    std::shared_ptr<ClientFile>& entry = files_[file];
    if (!entry) {
        entry = std::make_shared<ClientFile>();
        // The reference keeps the pointer from naming another file while the entry lives.
        entry->file = file;
    }
    return entry;
}

std::shared_ptr<ClientFile> ClientFiles::Remove(IWDFFile* file, Deliveries* deliveries) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = files_.find(file);
    if (found == files_.end()) {
        return nullptr;
    }
    std::shared_ptr<ClientFile> entry = found->second;
    files_.erase(found);
    entry->removed = true;
    EndWaits(*entry, message::kStatusEnded, deliveries);
    entry->events.clear();
    return entry;
}

SensorLink ClientFiles::Link(const ClientFile& file, const std::wstring& sensorId) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = file.links.find(sensorId);
    return found == file.links.end() ? SensorLink() : found->second;
}

std::map<std::wstring, SensorLink> ClientFiles::Links(const ClientFile& file) {
    std::lock_guard<std::mutex> lock(mutex_);
    return file.links;
}

bool ClientFiles::Removed(const ClientFile& file) {
    std::lock_guard<std::mutex> lock(mutex_);
    return file.removed;
}

void ClientFiles::SetConnected(ClientFile& file, const std::wstring& sensorId, bool connected) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connected) {
        file.links[sensorId].connected = true;
    } else if (const auto found = file.links.find(sensorId); found != file.links.end()) {
        file.links.erase(found);
    }
}

void ClientFiles::SetSubscribed(ClientFile& file, const std::wstring& sensorId, bool subscribed,
                                Deliveries* deliveries) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = file.links.find(sensorId);
    if (found == file.links.end()) {
        return;
    }
    found->second.subscribed = subscribed;
    if (subscribed) {
        return;
    }
    std::erase_if(file.events, [&](const std::shared_ptr<const PostedEvent>& posted) {
        return posted->event.sensorId == sensorId;
    });
    if (!Subscribed(file)) {
        EndWaits(file, message::kStatusEnded, deliveries);
    }
}

void ClientFiles::Post(const std::wstring& sensorId,
                       const std::shared_ptr<const PostedEvent>& event, Deliveries* deliveries) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [pointer, file] : files_) {
        const auto link = file->links.find(sensorId);
        if (link == file->links.end() || !link->second.subscribed) {
            continue;
        }
        file->events.push_back(event);
        if (file->events.size() > kEventQueueLimit) {
            file->events.pop_front();
            ++file->dropped;
        }
        Drain(*file, deliveries);
    }
}

void ClientFiles::Wait(ClientFile& file, Microsoft::WRL::ComPtr<IWDFIoRequest> request,
                       std::size_t outputBytes, Deliveries* deliveries) {
    std::lock_guard<std::mutex> lock(mutex_);
    HRESULT refusal = S_OK;
    if (!open_) {
        refusal = message::kStatusNotReady;
    } else if (file.removed || (!Subscribed(file) && file.events.empty())) {
        // Nothing could ever complete it.
        refusal = message::kStatusEnded;
    } else if (file.waits.size() >= kPendingWaitLimit) {
        refusal = message::kStatusTooManyWaits;
    }
    if (FAILED(refusal)) {
        deliveries->push_back({std::move(request), refusal, nullptr, 0});
        return;
    }
    file.waits.push_back({std::move(request), outputBytes});
    Drain(file, deliveries);
}

void ClientFiles::Drain(ClientFile& file, Deliveries* deliveries) {
    while (!file.events.empty() && !file.waits.empty()) {
        ClientFile::Wait wait = std::move(file.waits.front());
        file.waits.pop_front();
        const std::shared_ptr<const PostedEvent>& event = file.events.front();
        if (event->answerBytes > wait.outputBytes) {
            // The event stays first in line for a wait with room for it.
            deliveries->push_back(
                {std::move(wait.request), message::kStatusBufferTooSmall, event, 0});
            continue;
        }
        deliveries->push_back({std::move(wait.request), S_OK, event, file.dropped});
        file.dropped = 0;
        file.events.pop_front();
    }
}

void ClientFiles::EndWaits(ClientFile& file, HRESULT status, Deliveries* deliveries) {
    for (ClientFile::Wait& wait : file.waits) {
        deliveries->push_back({std::move(wait.request), status, nullptr, 0});
    }
    file.waits.clear();
}

bool ClientFiles::Subscribed(const ClientFile& file) {
    return std::any_of(file.links.begin(), file.links.end(),
                       [](const auto& link) { return link.second.subscribed; });
}

}  // namespace zntr::host
