#pragma once

#include "core/wait_cursor.h"

namespace ondrel {

class OverrideWaitCursor final : public WaitCursor {
  public:
    void Begin() override;
    void End() override;
};

}  // namespace ondrel
