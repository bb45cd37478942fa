// What the files of a Qt Test program share beyond Qt itself.
#pragma once

#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
