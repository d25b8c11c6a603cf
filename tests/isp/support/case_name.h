// Names parameterised cases after their `name` field, spelled as GoogleTest
// allows.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace isp_test {

struct CaseName {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& tested) const {
        std::string name = tested.param.name;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    }
};

}  // namespace isp_test
