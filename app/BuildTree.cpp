#include "BuildTree.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {
bool runningFromIt()
{
    return BuildTree::contains(QStringLiteral(SENTREL_BUILD_DIR), QCoreApplication::applicationDirPath());
}
} // namespace

bool BuildTree::contains(const QString& buildTree, const QString& folder)
{
    // Compared as the file system resolves them, so that a link to the tree still counts and
    // "build-deb" is not taken for inside "build".
    const QString tree = QFileInfo(buildTree).canonicalFilePath();
    const QString inside = QFileInfo(folder).canonicalFilePath();
    return !tree.isEmpty() && !inside.isEmpty()
        && (inside == tree || inside.startsWith(tree.endsWith(u'/') ? tree : tree + u'/'));
}

QString BuildTree::assetDir()
{
    return runningFromIt() ? QStringLiteral(SENTREL_BUILD_ASSET_DIR) : QString();
}

QString BuildTree::helperPath()
{
    return runningFromIt() ? QStringLiteral(SENTREL_BUILD_HELPER) : QString();
}

QString BuildTree::blockHelperPath()
{
    return runningFromIt() ? QStringLiteral(SENTREL_BUILD_BLOCK_HELPER) : QString();
}

QString BuildTree::watchHelperPath()
{
    return runningFromIt() ? QStringLiteral(SENTREL_BUILD_WATCH_HELPER) : QString();
}
