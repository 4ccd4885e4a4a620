// The host view: everything the plug-in uses of the modelling host.
//
//   point3.h    Point2, Point3, CrossProd, DotProd, Normalize, MaxComponent, BaryCoords
//   matrix3.h   Matrix3 (4x3, row vectors), SetAngleAxis, Inverse
//   ray.h       Ray
//   bitarray.h  BitArray
//   tab.h       Tab (index-checked counted array), TBSetCount, zfree
//   cstr.h      CStr
//   mesh.h      Mesh, Face, TVFace, map channels and vertex colours
//   face_rule.h MapFaceExclusion: which faces a map run bakes, and why not
//   noise.h     noise3
//   runtime.h   assert1, DebugPrint, GetCOREInterface (one per process)
//   core.h      Interface, INode, Object, TriObject: what the host implements
//   bitmap.h    BitmapInfo, Bitmap, BitmapManager, MemoryBitmap, TheManager
//   ini.h       settings files: GetPrivateProfile*, WritePrivateProfile*
//   threads.h   ThreadStarter: thread start with a stack size, and join
#pragma once

#include "host/bitarray.h"
#include "host/bitmap.h"
#include "host/core.h"
#include "host/cstr.h"
#include "host/face_rule.h"
#include "host/ini.h"
#include "host/matrix3.h"
#include "host/mesh.h"
#include "host/noise.h"
#include "host/point3.h"
#include "host/ray.h"
#include "host/runtime.h"
#include "host/tab.h"
#include "host/threads.h"
