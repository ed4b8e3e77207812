#pragma once
// The tool bar's seven 24 by 24 images, drawn by the program itself.
#include <QIcon>

enum class TToolImage { Adapter, RemoteHost, Save, OpenFile, ClearAll, SelectFields, ViewHex };
QIcon ToolIcon(TToolImage image);
