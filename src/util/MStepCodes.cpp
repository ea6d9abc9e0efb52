#include "MStepCodes.h"

#include "MGlobals.h"

namespace Cogitra {

const char *StepTextKey(int64_t step)
{
    switch (step) {
    case Step::OpenRequested:
    case Step::OpenLocating:
    case Step::SaveLocating:
        return "stepFindingPage";
    case Step::ListingNotebooks:
        return "stepListingNotebooks";
    case Step::SearchingNotebooks:
        return "stepSearchingNotebooks";
    case Step::OpenLocateFailed:
    case Step::SaveLocateFailed:
        return "stepPageNotFound";
    case Step::OpenReadingPage:
    case Step::SavePageKnown:
    case Step::SaveReadingPage:
    case Step::SaveFindingImages:
        return "stepReadingPage";
    case Step::OpenFindingMap:
        return "stepFindingMap";
    case Step::OpenDownloadingMap:
        return "stepDownloadingMap";
    case Step::OpenReadingMap:
        return "stepReadingMap";
    case Step::OpenDone:
        return "stepMapOpened";
    case Step::SaveRequested:
        return "stepPreparingSave";
    case Step::SaveUploadingPreview:
        return "stepUploadingPicture";
    case Step::SavePackingMap:
        return "stepPackingMap";
    case Step::SaveUploadingMap:
        return "stepUploadingMap";
    case Step::SaveDone:
        return "stepMapSaved";
    default:
        return nullptr;
    }
}

void RecordRunFailure(int64_t step, const char *key)
{
    g_StepCode.store(step);
    g_ErrorMessageKey.set(QString::fromLatin1(key));
    g_ErrorCode.store(step);
}

} // namespace Cogitra
