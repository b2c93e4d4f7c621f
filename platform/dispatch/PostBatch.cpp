#include "platform/dispatch/PostBatch.h"

#include <exception>
#include <utility>

namespace dispatch {

namespace {

thread_local PostBatch* innermost = nullptr;

}  // namespace

PostBatch::PostBatch(std::shared_ptr<Queue> queue) : queue_(std::move(queue)), outer_(innermost) {
    innermost = this;
}

PostBatch::~PostBatch() {
    innermost = outer_;
    postAll(queue_, std::move(work_));
}

void PostBatch::postAll(const std::shared_ptr<Queue>& queue, std::vector<Work> work) {
    if (work.empty()) return;
    if (work.size() == 1) {
        queue->async(std::move(work.front()));
        return;
    }
    queue->async([queue, work = std::move(work)] {
        PostBatch scope(queue);
        for (const auto& piece : work) {
            try {
                piece();
            } catch (...) {
                // Reported by the queue as if the piece had run as a block of its own, without
                // losing the pieces after it.
                queue->async([error = std::current_exception()] { std::rethrow_exception(error); });
            }
        }
    });
}

void PostBatch::post(const std::shared_ptr<Queue>& queue, Work work) {
    for (PostBatch* scope = innermost; scope; scope = scope->outer_) {
        if (scope->queue_ == queue) {
            scope->work_.push_back(std::move(work));
            return;
        }
    }
    queue->async(std::move(work));
}

}  // namespace dispatch
