#pragma once

// The branches and loops of the H.265 syntax tables that the builders' condition texts
// stand for. A builder writes the condition of a row nested in several branches as their
// conjunction, outermost first; the picture syntax model folds the row into one group per
// branch, named with the table's own text.

#include <QHashFunctions>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

namespace vexilo::syntaxrows {

// One level of nesting: the branch of the syntax table and the conditions that lead into it.
struct BranchStep {
    QString key;
    QString condition;
};
using BranchPath = std::vector<BranchStep>;

// The branch text of one condition, or an empty text when the condition names no branch.
// Besides the listed texts, "name == true" stands for "if( name )" and "name == false" for
// "if( !name )", an index of the name reading "[ i ]" as the tables write it.
[[nodiscard]] QString conditionBranchKey(const QString& condition);

// Each run of conjuncts that names one branch becomes one level; a condition with a part
// that names no branch gives no levels at all.
[[nodiscard]] BranchPath conditionBranchPath(const QString& condition);

// A syntax structure whose rows fold below its own row, as the tables define them in a
// structure of their own: it holds the rows after its row while their outermost condition is
// one of its own.
struct SyntaxContainer {
    const char* name;  // its row's name; for a call, the name up to the argument list
    bool call;
    std::unordered_set<QString> conditions;
};

// The container a row of this name opens, or null.
[[nodiscard]] const SyntaxContainer* containerOpenedBy(const QString& syntax);
[[nodiscard]] bool containerHolds(const SyntaxContainer& container, const QString& condition);

// The branches of profile_tier_level() that depend on the profile a general or sub-layer
// profile claims, by its idc or a compatibility flag.
enum class ProfileBranch : std::uint8_t {
    RangeExtensionFlags,  // if( ..._profile_idc == 4 ... 11 )
    FourteenBitFlag,      // inside it: if( ... 5, 9, 10, 11 )
    NoFourteenBitFlag,    // its else
    OnePictureOnlyFlag,   // else if( ... 2 )
    NoConstraintFlags,    // else
    InbldFlag,            // if( ... 1 ... 5, 9, 11 )
    NoInbldFlag,          // its else
};
inline constexpr std::size_t kProfileBranchCount = 7;

// Whether the branch's condition holds for a profile; an else branch holds when its if does not.
[[nodiscard]] bool profileBranchTaken(ProfileBranch branch, std::uint8_t profileIdc, std::uint32_t compatibilityFlags);

// The condition a row writes for the branch, for the general profile or a sub-layer's.
[[nodiscard]] QString profileBranchCondition(ProfileBranch branch, bool subLayer);

}  // namespace vexilo::syntaxrows
