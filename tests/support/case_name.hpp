// Names each case of a table-driven test after the `name` field of its row.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testing_support {

struct CaseName {
    template <class Row>
    std::string operator()(const testing::TestParamInfo<Row>& row) const {
        return row.param.name;
    }
};

}  // namespace testing_support
