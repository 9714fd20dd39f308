// Base of every business object of the core module: started once the module
// runs, stopped at module stop, never deleted before the process ends.
#pragma once

class IBaseBusiness {
public:
    virtual bool Init() = 0;
    virtual bool Uninit() = 0;
    virtual ~IBaseBusiness() = default;
};
