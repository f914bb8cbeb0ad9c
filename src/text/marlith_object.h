// Root classes of the long-lived objects: a virtual destructor, so that an
// owning ExtPtrArray can destroy any element it holds.
#ifndef SFX_TEXT_MARLITH_OBJECT_H_
#define SFX_TEXT_MARLITH_OBJECT_H_

namespace sfx {

// Base of every object an ExtPtrArray may own.
class MarlithObject {
 public:
  MarlithObject() = default;
  virtual ~MarlithObject() = default;

 protected:
  MarlithObject(const MarlithObject&) = default;
  MarlithObject& operator=(const MarlithObject&) = default;
};

// A MarlithObject whose lifetime is managed by its single owner (no
// reference count).
class NonRefCountedObj : public MarlithObject {
 public:
  NonRefCountedObj() = default;
  ~NonRefCountedObj() override = default;

 protected:
  NonRefCountedObj(const NonRefCountedObj&) = default;
  NonRefCountedObj& operator=(const NonRefCountedObj&) = default;
};

}  // namespace sfx

#endif  // SFX_TEXT_MARLITH_OBJECT_H_
