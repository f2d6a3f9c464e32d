#pragma once
// The headers nearly every test program includes, compiled once for all of them: GoogleTest,
// GoogleMock and the standard library's common parts. Heavy headers that only a few tests use
// (the JSON library, <regex>) stay out, so the files that do not use them do not pay for them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>
