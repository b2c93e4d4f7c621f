#pragma once

#include <memory>
#include <vector>

#include "platform/dispatch/Queue.h"

namespace dispatch {

// Gathers the work that the current thread posts to one queue through post() while the scope
// is open, and posts it as a single block when the scope closes. The block runs the pieces in
// the order they were posted, with a scope of its own open, so work they post() to the same
// queue is gathered again. A burst of small hand-overs then costs one queue hop per step
// instead of one per piece; each piece still runs later than the code that posted it.
class PostBatch {
  public:
    explicit PostBatch(std::shared_ptr<Queue> queue);
    ~PostBatch();
    PostBatch(const PostBatch&) = delete;
    PostBatch& operator=(const PostBatch&) = delete;

    // Joins the innermost open scope of this thread for `queue`, else queue->async(work).
    static void post(const std::shared_ptr<Queue>& queue, Work work);
    // Posts `work` to `queue` as one block that runs the pieces in order inside a scope.
    static void postAll(const std::shared_ptr<Queue>& queue, std::vector<Work> work);

  private:
    std::shared_ptr<Queue> queue_;
    std::vector<Work> work_;
    PostBatch* outer_;
};

}  // namespace dispatch
