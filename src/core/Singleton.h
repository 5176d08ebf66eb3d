// Base of the process-wide singletons: only the derived class may construct it.
#pragma once

template <typename T>
class Singleton {
  public:
    static T* GetInstance() { return T::getInstance(); }

  protected:
    Singleton() = default;
    Singleton(const Singleton&) = default;
};
