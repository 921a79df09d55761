#pragma once

#include <QString>

// The build tree the program was compiled in. A program run from there uses the files built
// beside it; an installed one never looks at that path: on another machine, or in another user's
// mount namespace, anyone may have put anything there.
namespace BuildTree {

// True when the folder is the build tree or lies inside it.
bool contains(const QString& buildTree, const QString& folder);

// The generated asset files, the port, watch and firewall helpers of the build tree, when the
// running executable lies inside it; else empty.
QString assetDir();
QString helperPath();
QString watchHelperPath();
QString blockHelperPath();

} // namespace BuildTree
