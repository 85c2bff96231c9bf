#pragma once

#include "wait_cursor.h"

namespace ondrel {

class OverrideWaitCursor final : public WaitCursor {
  public:
    void Begin() override;
    void End() override;
};

}  // namespace ondrel
