// The test executables' share of parsing: GoogleTest and GoogleMock on top of pch.h. Not QtTest:
// its headers take in each test folder's own path.
#pragma once

#include "pch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
