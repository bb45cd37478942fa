// What the files of a GoogleTest program share beyond the standard library and Qt.
#pragma once

#include <gtest/gtest.h>
