// lib_vectorpath.cpp - the "vectorpath" command library: building, editing,
// querying and drawing vector paths, the current path style, the choice of the
// vector engine and ForcePathUse.
//
// Depends on: text/lvvectorpath.h, text/lvtextlib.h (fonts of path text),
// runtime/cmdsupport.h.
#include <algorithm>
#include <cmath>
#include <string>
#include <new>
#include <vector>

#include "base/lverrors.h"
#include "images/lvimagecmd.h"
#include "libs/lib_core2.h"
#include "raster/lvdrawtags.h"
#include "runtime/cmdsupport.h"
#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "images/lvbrush.h"
#include "runtime/libtable.h"
#include "text/lvtextlib.h"
#include "text/lvvectorpath.h"

namespace {

double Num(lvState *L, int index) { return CheckNumberArg(L, index); }

const lvRefOps *RefOps()
{
    lvTextLibrary *t = GetTextLibrary();
    return t && t->open ? &t->refOps : nullptr;
}

lvPath *PathArg(lvState *L, int index, int *code)
{
    lvPath *p = nullptr;
    *code = FindPathById(GetObjectIdArg(L, index), &p);
    return p;
}

int CmdStartPath(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    lvObjectId id = {isNil ? 0 : number, nullptr};
    if (int code = StartPath(&id)) return code;
    if (!id.handle) return 0;
    PushObjectId(L, id);
    return 1;
}

int CmdFreePath(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return RemovePath(GetObjectIdArg(L, 1));
}

int CmdClearPath(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int code;
    lvPath *p = PathArg(L, 1, &code);
    if (code) return code;
    ClearPath(p);
    return 0;
}

int Point(lvState *L, uint32_t command, int rel)
{
    CheckArgCount(L, 3, 3, 0, 0);
    lvPathArg a[3] = {PathInt(rel), PathDouble(Num(L, 2)), PathDouble(Num(L, 3))};
    return AppendPathCommand(GetObjectIdArg(L, 1), command, 3, a);
}
int CmdMoveTo(lvState *L) { return Point(L, PATHCMD_MOVETO, 0); }
int CmdRelMoveTo(lvState *L) { return Point(L, PATHCMD_MOVETO, 1); }
int CmdLineTo(lvState *L) { return Point(L, PATHCMD_LINETO, 0); }
int CmdRelLineTo(lvState *L) { return Point(L, PATHCMD_LINETO, 1); }

int Curve(lvState *L, int rel)
{
    CheckArgCount(L, 7, 7, 0, 0);
    lvPathArg a[7] = {PathInt(rel)};
    for (int i = 0; i < 6; i++) a[1 + i] = PathDouble(Num(L, 2 + i));
    return AppendPathCommand(GetObjectIdArg(L, 1), PATHCMD_CURVETO, 7, a);
}
int CmdCurveTo(lvState *L) { return Curve(L, 0); }
int CmdRelCurveTo(lvState *L) { return Curve(L, 1); }

int CmdStartSubPath(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return AppendPathCommand(GetObjectIdArg(L, 1), PATHCMD_NEWSUBPATH, 0, nullptr);
}

int CmdClosePath(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return AppendPathCommand(GetObjectIdArg(L, 1), PATHCMD_CLOSEPATH, 0, nullptr);
}

int Arc(lvState *L, double xc, double yc, double ra, double rb, double start, double end, int clockwise)
{
    lvPathArg a[7] = {PathDouble(xc),    PathDouble(yc),  PathDouble(ra),    PathDouble(rb),
                      PathDouble(start), PathDouble(end), PathInt(clockwise)};
    return AppendPathCommand(GetObjectIdArg(L, 1), PATHCMD_ARC, 7, a);
}

int CmdAddArcToPath(lvState *L)
{
    CheckArgCount(L, 7, 8, 0, 0);
    int clockwise = HasArg(L, 8) ? IntArg(L, 8) : 1;
    return Arc(L, Num(L, 2), Num(L, 3), Num(L, 4), Num(L, 5), Num(L, 6), Num(L, 7), clockwise);
}

int CmdAddCircleToPath(lvState *L)
{
    CheckArgCount(L, 4, 4, 0, 0);
    double r = Num(L, 4);
    return Arc(L, Num(L, 2), Num(L, 3), r, r, 0, 360, 1);
}

int CmdAddEllipseToPath(lvState *L)
{
    CheckArgCount(L, 5, 5, 0, 0);
    return Arc(L, Num(L, 2), Num(L, 3), Num(L, 4), Num(L, 5), 0, 360, 1);
}

int CmdAddBoxToPath(lvState *L)
{
    CheckArgCount(L, 5, 6, 0, 0);
    double x = Num(L, 2), y = Num(L, 3), w = Num(L, 4), h = Num(L, 5);
    int corners[4] = {0, 0, 0, 0};
    if (HasArg(L, 6)) {
        CheckTableArg(L, 6);
        int all = 0;
        if (GetFieldInt(L, 6, "roundlevel", &all)) std::fill(corners, corners + 4, all);
        GetFieldInt(L, 6, "cornera", &corners[0]);
        GetFieldInt(L, 6, "cornerb", &corners[1]);
        GetFieldInt(L, 6, "cornerc", &corners[2]);
        GetFieldInt(L, 6, "cornerd", &corners[3]);
    }
    for (int &c : corners) c = std::clamp(c, 0, 100);
    lvPathArg a[8] = {PathDouble(x),      PathDouble(y),      PathDouble(w),      PathDouble(h),
                      PathInt(corners[0]), PathInt(corners[1]), PathInt(corners[2]), PathInt(corners[3])};
    return AppendPathCommand(GetObjectIdArg(L, 1), PATHCMD_BOX, 8, a);
}

int CmdAddTextToPath(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    size_t length = 0;
    const char *text = CheckStringArg(L, 2, &length);
    int encoding = GetDefaultTextEncoding();
    if (HasArg(L, 3)) {
        CheckTableArg(L, 3);
        GetFieldInt(L, 3, "encoding", &encoding);
    }
    if (encoding != 0 && encoding != 1) return ERR_WRONGUSAGE;
    int code;
    lvPath *p = PathArg(L, 1, &code);
    if (code) return code;
    lvTextLibrary *lib = GetTextLibrary();
    if (!lib || !lib->open || !lib->currentFont) return ERR_VFONTTYPE;
    // A text field ends at its first 0 byte.
    length = std::find(text, text + length, '\0') - text;
    std::string utf8;
    try {
        if (encoding == 0) {
            utf8.resize(2 * length + 1);
            utf8.resize(length ? Latin1ToUtf8Into(text, utf8.data(), length) : 0);
        } else {
            utf8.assign(text, length);
        }
    } catch (...) {
        return ERR_MEM;
    }
    const lvVectorEngine *engine = ServingVectorEngine();
    uint32_t handle = 0;
    if (int e = GetVectorFont(&lib->vectorFonts, IsInbuiltVectorEngine(engine) ? nullptr : engine, lib->currentFont,
                              &handle))
        return e;
    lvPathArg a[3] = {PathHandle(handle), PathInt(lib->currentFont->size), PathText(utf8.data(), utf8.size())};
    return AppendPathCommandTo(p, PATHCMD_TEXT, 3, a);
}

int CmdCopyPath(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvObjectId source = GetObjectIdArg(L, 1);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 2, &isNil);
    lvObjectId id = {isNil ? 0 : number, nullptr};
    if (!isNil && GetValueType(L, 2) == LV_TPOINTER) return ERR_WRONGUSAGE;
    if (int code = CopyPath(source, &id, RefOps())) return code;
    if (!id.handle) return 0;
    PushObjectId(L, id);
    return 1;
}

int CmdAppendPath(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    return AppendPath(GetObjectIdArg(L, 1), GetObjectIdArg(L, 2));
}

int CmdTranslatePath(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    double dx = Num(L, 2), dy = Num(L, 3);
    int code;
    lvPath *p = PathArg(L, 1, &code);
    if (code) return code;
    return TranslatePathBy(p, dx, dy);
}

int CmdNormalizePath(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int code;
    lvPath *p = PathArg(L, 1, &code);
    if (code) return code;
    return NormalizePath(p);
}

int CmdIsPathEmpty(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int code;
    lvPath *p = PathArg(L, 1, &code);
    if (code) return code;
    PushNumber(L, p->buffer == nullptr ? 1 : 0);
    return 1;
}

int CmdGetCurrentPoint(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int code;
    lvPath *p = PathArg(L, 1, &code);
    if (code) return code;
    double x, y;
    GetPathCurrentPoint(p, &x, &y);
    PushNumber(L, x);
    PushNumber(L, y);
    return 2;
}

int CmdGetPathExtents(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int code;
    lvPath *p = PathArg(L, 1, &code);
    if (code) return code;
    const lvDrawStyle *d = GetDrawStyle();
    double e[4];
    GetPathExtentsOf(p, d->fillStyle != FILLNONE, d->lineWidth, e);
    for (double v : e) PushNumber(L, v);
    return 4;
}

// The iterator keeps the path's identifier and a byte offset, never the buffer:
// a path freed, cleared or grown while it runs is looked up again (and a freed
// one ends the iteration).
int IteratePathItems(lvState *L)
{
    lvObjectId id = GetObjectIdArg(L, LvUpvalueIndex(1));
    double at = ValueToNumber(L, LvUpvalueIndex(2));
    lvPath *p;
    if (at < 0 || FindPathById(id, &p) || !p->buffer || (size_t)at > p->writePos) {
        PushNil(L);
        return 1;
    }
    size_t offset = (size_t)at;
    lvPathItem it;
    if (!ReadPathItem(p->buffer, p->writePos, &offset, &it)) {
        PushNumber(L, -1);
        ReplaceValue(L, LvUpvalueIndex(2));
        PushNil(L);
        return 1;
    }
    PushNumber(L, (double)offset);
    ReplaceValue(L, LvUpvalueIndex(2));
    PushNewTable(L);
    static const char *const names[] = {"", "MoveTo", "LineTo", "CurveTo", "", "NewSubPath", "ClosePath", "Arc", "Box", "Text"};
    SetFieldString(L, "type", names[it.code]);
    switch (it.code) {
    case PATHCMD_MOVETO:
    case PATHCMD_LINETO:
        SetFieldInt(L, "rel", it.rel);
        SetFieldNumber(L, "x", it.v[0]);
        SetFieldNumber(L, "y", it.v[1]);
        break;
    case PATHCMD_CURVETO: {
        static const char *const keys[] = {"x1", "y1", "x2", "y2", "x3", "y3"};
        SetFieldInt(L, "rel", it.rel);
        for (int i = 0; i < 6; i++) SetFieldNumber(L, keys[i], it.v[i]);
        break;
    }
    case PATHCMD_ARC: {
        static const char *const keys[] = {"xc", "yc", "ra", "rb", "start", "end"};
        for (int i = 0; i < 6; i++) SetFieldNumber(L, keys[i], it.v[i]);
        SetFieldInt(L, "clockwise", it.clockwise);
        break;
    }
    case PATHCMD_BOX: {
        static const char *const keys[] = {"x", "y", "width", "height"};
        for (int i = 0; i < 4; i++) SetFieldNumber(L, keys[i], it.v[i]);
        PushString(L, "round");
        PushNewTable(L);
        for (int i = 0; i < 4; i++) {
            PushNumber(L, i);
            PushNumber(L, it.corners[i]);
            SetTableValueRaw(L, -3);
        }
        SetTableValueRaw(L, -3);
        break;
    }
    case PATHCMD_TEXT:
        SetFieldInt(L, "size", it.size);
        PushString(L, "text");
        PushSizedString(L, it.text, it.textLength);
        SetTableValueRaw(L, -3);
        break;
    default: break;
    }
    return 1;
}

int CmdPathItems(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    lvPath *p;
    if (int code = FindPathById(id, &p)) return code;
    PushObjectId(L, id);
    PushNumber(L, 0);
    PushNativeClosure(L, IteratePathItems, 2);
    return 1;
}

// ---- Style --------------------------------------------------------------------------------

int CmdSetLineJoin(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CurrentPathStyle()->join = IntArg(L, 1);
    return 0;
}
int CmdSetLineCap(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CurrentPathStyle()->cap = IntArg(L, 1);
    return 0;
}
int CmdSetFillRule(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CurrentPathStyle()->fillRule = IntArg(L, 1);
    return 0;
}
int CmdSetMiterLimit(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CurrentPathStyle()->miterLimit = Num(L, 1);
    return 0;
}
int CmdSetDash(lvState *L)
{
    CheckArgCount(L, 2, -1, 0, 0);
    int top = GetStackTop(L);
    double offset = Num(L, 1);
    std::vector<double> lengths;
    try {
        for (int i = 2; i <= top; i++) lengths.push_back(Num(L, i));
    } catch (const std::bad_alloc &) {  // a bad argument's script error goes on as it is
        return ERR_MEM;
    }
    return SetPathDash(CurrentPathStyle(), offset, lengths.data(), (int)lengths.size());
}
int CmdGetLineJoin(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, CurrentPathStyle()->join);
    return 1;
}
int CmdGetLineCap(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, CurrentPathStyle()->cap);
    return 1;
}
int CmdGetFillRule(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, CurrentPathStyle()->fillRule);
    return 1;
}
int CmdGetMiterLimit(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, CurrentPathStyle()->miterLimit);
    return 1;
}
int CmdGetDash(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    const lvPathStyle *s = CurrentPathStyle();
    if (s->dashCount <= 0) {
        PushNumber(L, -1);
        return 1;
    }
    PushNumber(L, s->dashOffset);
    PushNewTable(L);
    for (int i = 0; i < s->dashCount; i++) {
        PushNumber(L, i);
        PushNumber(L, s->dashArray[i]);
        SetTableValueRaw(L, -3);
    }
    return 2;
}

// ---- Drawing and engines ----------------------------------------------------------------------

int CmdDrawPath(lvState *L)
{
    CheckArgCount(L, 3, 5, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int x = (int)std::trunc(Num(L, 2)), y = (int)std::trunc(Num(L, 3));
    uint32_t colour = 0;
    int tagsIndex = 0;
    if (HasArg(L, 4) && GetValueType(L, 4) == LV_TTABLE) {
        tagsIndex = 4;
    } else {
        if (HasArg(L, 4)) colour = ColourArg(L, 4);
        if (HasArg(L, 5)) tagsIndex = 5;
    }
    lvPath *p;
    if (int code = FindPathById(id, &p)) return code;
    if (!RasterState.currentDisplay) return ERR_OUTPUTDEVICE;
    if (!p->buffer) return ERR_EMPTYPATH;
    const lvDrawStyle *d = GetDrawStyle();
    double e[4];
    GetPathExtentsOf(p, d->fillStyle != FILLNONE, std::max(1, d->lineWidth), e);
    int w = std::max(1, (int)std::ceil(std::clamp(e[2] - e[0], 0.0, 65535.0)));
    int h = std::max(1, (int)std::ceil(std::clamp(e[3] - e[1], 0.0, 65535.0)));
    lvDrawTags tags;
    lvStyleTags style;
    if (int code = ParseDrawTags(L, tagsIndex, w, h, w, h, 0, &tags, &style, DRAWTAGS_FROMTEMPLATE)) return code;
    return DrawPathById(L, id, x, y, colour, &tags, &style);
}

int CmdSetVectorEngine(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    size_t n;
    const char *name = CheckStringArg(L, 1, &n);
    return SetVectorEngine(name);
}

int CmdForcePathUse(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int on = GetValueType(L, 1) == LV_TBOOLEAN ? ValueToBoolean(L, 1) : IntArg(L, 1) != 0;
    SetForcePathUse(on);
    return 0;
}

// A vector brush from the item table at index: items at keys 0 up to the first
// missing one, each {id = path, x = 0, y = 0, color = 0}.
int PathBrushFromTable(lvState *L, int index, lvObjectId *id)
{
    CheckTableArg(L, index);
    lvPathBrushList list{};
    struct Guard {
        lvPathBrushList *l;
        ~Guard() { FreePathBrushList(l); }
    } guard{&list};
    for (int i = 0;; i++) {
        PushNumber(L, i);
        GetTableValue(L, index);
        int type = GetValueType(L, -1);
        if (type == LV_TNIL) {
            SetStackTop(L, -2);
            break;
        }
        if (type != LV_TTABLE) {
            SetStackTop(L, -2);
            return ERR_TABEXPECTED3;
        }
        int item = GetStackTop(L);
        lvObjectId path = {0, nullptr};
        int present = 0;
        GetFieldObjectId(L, item, "id", &path, &present);
        if (!present) {
            SetStackTop(L, -2);
            SetErrorStringArg("id");
            return ERR_MISSINGFIELD;
        }
        double x = 0, y = 0, colour = 0;
        GetFieldNumber(L, item, "x", &x);
        GetFieldNumber(L, item, "y", &y);
        GetFieldNumber(L, item, "color", &colour);
        SetStackTop(L, -2);
        if (int code = AddPathBrushItem(&list, path, x, y, (uint32_t)(int64_t)colour)) return code;
    }
    if (list.count == 0) return ERR_EMPTYTABLE;
    return MakePathBrush(L, id, &list);
}

int CmdPathToBrush(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    lvObjectId id = {isNil ? 0 : number, nullptr};
    if (int code = PathBrushFromTable(L, 2, &id)) return code;
    if (!id.handle) return 0;
    PushObjectId(L, id);
    return 1;
}

const lvCommandEntry VectorPathCommands[] = {
    {"StartPath", CmdStartPath},
    {"FreePath", CmdFreePath},
    {"ClearPath", CmdClearPath},
    {"MoveTo", CmdMoveTo},
    {"RelMoveTo", CmdRelMoveTo},
    {"LineTo", CmdLineTo},
    {"RelLineTo", CmdRelLineTo},
    {"CurveTo", CmdCurveTo},
    {"RelCurveTo", CmdRelCurveTo},
    {"StartSubPath", CmdStartSubPath},
    {"ClosePath", CmdClosePath},
    {"AddArcToPath", CmdAddArcToPath},
    {"AddCircleToPath", CmdAddCircleToPath},
    {"AddEllipseToPath", CmdAddEllipseToPath},
    {"AddBoxToPath", CmdAddBoxToPath},
    {"AddTextToPath", CmdAddTextToPath},
    {"CopyPath", CmdCopyPath},
    {"AppendPath", CmdAppendPath},
    {"TranslatePath", CmdTranslatePath},
    {"NormalizePath", CmdNormalizePath},
    {"IsPathEmpty", CmdIsPathEmpty},
    {"GetCurrentPoint", CmdGetCurrentPoint},
    {"GetPathExtents", CmdGetPathExtents},
    {"PathItems", CmdPathItems},
    {"SetLineJoin", CmdSetLineJoin},
    {"SetLineCap", CmdSetLineCap},
    {"SetFillRule", CmdSetFillRule},
    {"SetMiterLimit", CmdSetMiterLimit},
    {"SetDash", CmdSetDash},
    {"GetLineJoin", CmdGetLineJoin},
    {"GetLineCap", CmdGetLineCap},
    {"GetFillRule", CmdGetFillRule},
    {"GetMiterLimit", CmdGetMiterLimit},
    {"GetDash", CmdGetDash},
    {"DrawPath", CmdDrawPath},
    {"SetVectorEngine", CmdSetVectorEngine},
    {"ForcePathUse", CmdForcePathUse},
    {"PathToBrush", CmdPathToBrush},
    {nullptr, nullptr},
};

const lvConstantEntry VectorPathConstants[] = {
    {"VECTORPATH", nullptr, LV_TYPE_VECTORPATH},
    {"JOINMITER", nullptr, JOINMITER},
    {"JOINROUND", nullptr, JOINROUND},
    {"JOINBEVEL", nullptr, JOINBEVEL},
    {"CAPBUTT", nullptr, CAPBUTT},
    {"CAPROUND", nullptr, CAPROUND},
    {"CAPSQUARE", nullptr, CAPSQUARE},
    {"FILLRULEWINDING", nullptr, FILLRULEWINDING},
    {"FILLRULEEVENODD", nullptr, FILLRULEEVENODD},
    {nullptr, nullptr, 0},
};

}  // namespace

int OpenVectorPathLibrary(lvState *L)
{
    ResetVectorPathState();
    ResetCurrentPathStyle();
    SetVectorEngine("default");
    SetPathBrushMaker(PathBrushFromTable);
    if (int code = RegisterCommandTable(L, VectorPathCommands, "vectorpath")) return code;
    return RegisterObjectType(LV_TYPE_VECTORPATH, "Vector paths", PathListHead(), nullptr, nullptr, 0);
}

const lvConstantEntry *GetVectorPathConstants(void) { return VectorPathConstants; }

void CloseVectorPathLibrary(lvState *, int)
{
    FreeAllPaths(RefOps());
    ResetVectorPathState();
    SetPathBrushMaker(nullptr);
}

void InstallVectorPathLibrary(void)
{
    SetLibraryRow("vectorpath", OpenVectorPathLibrary, GetVectorPathConstants);
    SetLibraryCloseStep("vectorpaths", CloseVectorPathLibrary);
}
