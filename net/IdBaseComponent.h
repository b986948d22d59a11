// The common base of the network components.
#pragma once

#include "rtl/Classes.h"

class TIdBaseComponent : public TComponent {
 public:
  explicit TIdBaseComponent(TComponent* owner) : TComponent(owner) {}
};
