#pragma once

#include "platform/core/decode_control.h"

// Whether a reservation's bytes have been granted, without waiting: how the budget's order is
// observed from outside it.
bool IsGranted(const TDecodeBudget::TReservation& reservation);
