// The view a check reads through: the context's own while DetectThreat
// runs, or one opened here over the context's file for a check called on
// its own (tests, other entry points), and closed again when the check ends.
#pragma once

#include "engine/check_context.h"
#include "engine/file_view.h"

class ViewScope {
public:
    explicit ViewScope(FileCheckContext* context) : context_(context) {
        if (context->view == nullptr) {
            OpenFileView(&own_, context->file);
            context->view = &own_;
            opened_ = true;
        }
        view = context->view;
    }
    ~ViewScope() {
        if (opened_) context_->view = nullptr;
    }
    ViewScope(const ViewScope&) = delete;
    ViewScope& operator=(const ViewScope&) = delete;

    FileView* view = nullptr;

private:
    FileCheckContext* context_;
    FileView own_;
    bool opened_ = false;
};
