// Tests that run once on every build of the vector kernels this processor
// runs (platform/simd.h), the plain build among them:
//
//   using BrightEachTarget = orbimg::test::EachTarget;
//   TEST_P(BrightEachTarget, MatchesTheFloatExpression) { ... }
//   ORBIMG_EACH_TARGET(BrightEachTarget);
//
// Each test forces its build for its whole run, so kernels dispatched
// anywhere in the library (in every thread) take it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/simd.h"

namespace orbimg::test {

/// A fixture (deriving from the fixture Base) whose parameter is the build.
template <class Base = ::testing::Test>
class EachTargetOf : public Base, public ::testing::WithParamInterface<std::int64_t> {
protected:
    void SetUp() override
    {
        Base::SetUp();
        m_force.emplace(this->GetParam());
    }
    void TearDown() override
    {
        m_force.reset();
        Base::TearDown();
    }

private:
    std::optional<orbimg::simd::ForceTarget> m_force;
};

using EachTarget = EachTargetOf<>;

/// The build's name as the test's parameter name (".../AVX2").
inline std::string TargetParamName(const ::testing::TestParamInfo<std::int64_t>& info)
{
    return orbimg::simd::TargetName(info.param);
}

}  // namespace orbimg::test

#define ORBIMG_EACH_TARGET(Suite) \
    INSTANTIATE_TEST_SUITE_P(Simd, Suite, ::testing::ValuesIn(orbimg::simd::Targets()), orbimg::test::TargetParamName)
